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
  if (!rows_.empty()) rows_.push_back(0);       // made already; the row is never asked for
  return entries_.back();
}

void CInterfaces::AddDeferred(std::size_t count, EntryMaker make) {
  if (count == 0) return;
  // One maker per collection: the snapshot fills its collection once.
  if (make_) throw std::logic_error("CInterfaces.AddDeferred: rows already deferred");
  make_ = std::move(make);
  rows_.resize(entries_.size(), 0);
  for (std::size_t row = 0; row < count; ++row) {
    entries_.emplace_back();
    rows_.push_back(row);
  }
}

const std::shared_ptr<CInterface>& CInterfaces::Made(std::size_t position) const {
  std::shared_ptr<CInterface>& entry = entries_[position];
  if (!entry) entry = make_(rows_[position]);
  return entry;
}

CInterfaces::Entries::const_iterator CInterfaces::begin() const {
  for (std::size_t i = 0; i < entries_.size(); ++i) Made(i);
  return entries_.begin();
}

std::size_t CInterfaces::Position(std::int32_t index) const {
  if (index < 1 || index > Count())
    throw IndexError("interface position " + std::to_string(index) + " outside 1.." +
                     std::to_string(Count()));
  return static_cast<std::size_t>(index - 1);
}

std::shared_ptr<CInterface> CInterfaces::Item(std::int32_t vntIndexKey) const {
  return Made(Position(vntIndexKey));
}

std::shared_ptr<CInterface> CInterfaces::Item(const std::string& vntIndexKey) const {
  NoSuchKey(vntIndexKey);
}

void CInterfaces::Remove(std::int32_t vntIndexKey) {
  const auto at = static_cast<std::ptrdiff_t>(Position(vntIndexKey));
  entries_.erase(entries_.begin() + at);
  if (!rows_.empty()) rows_.erase(rows_.begin() + at);
}

void CInterfaces::Remove(const std::string& vntIndexKey) { NoSuchKey(vntIndexKey); }

}  // namespace quorrel
