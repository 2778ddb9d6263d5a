#include "interfaces/c_interfaces.h"

namespace quorrel {
namespace {

[[noreturn]] void NoSuchKey(const std::string& key) {
  throw IndexError("no interface with key \"" + key + "\": entries carry no keys");
}

}  // namespace

std::shared_ptr<CInterface> CInterfaces::Add(std::shared_ptr<CInterface>& objInterface) {
  if (!objInterface) throw std::invalid_argument("CInterfaces.Add: no entry given");
  entries_.push_back(std::move(objInterface));  // moving leaves the caller's reference empty
  return entries_.back();
}

std::size_t CInterfaces::Position(std::int32_t index) const {
  if (index < 1 || index > Count())
    throw IndexError("interface position " + std::to_string(index) + " outside 1.." +
                     std::to_string(Count()));
  return static_cast<std::size_t>(index - 1);
}

std::shared_ptr<CInterface> CInterfaces::Item(std::int32_t vntIndexKey) const {
  return entries_[Position(vntIndexKey)];
}

std::shared_ptr<CInterface> CInterfaces::Item(const std::string& vntIndexKey) const {
  NoSuchKey(vntIndexKey);
}

void CInterfaces::Remove(std::int32_t vntIndexKey) {
  entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(Position(vntIndexKey)));
}

void CInterfaces::Remove(const std::string& vntIndexKey) { NoSuchKey(vntIndexKey); }

}  // namespace quorrel
