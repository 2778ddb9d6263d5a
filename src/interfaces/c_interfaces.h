#pragma once
// CInterfaces: the ordered entries of one snapshot. Positions count from 1;
// entries carry no keys.
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "interfaces/c_interface.h"

namespace quorrel {

// An Item or Remove outside 1..Count, or by key, goes back to the caller as this.
class IndexError : public std::out_of_range {
 public:
  using std::out_of_range::out_of_range;
};

class CInterfaces {
 public:
  using Entries = std::vector<std::shared_ptr<CInterface>>;

  // Appends the entry, returns it and empties the caller's reference, so a
  // caller filling one entry per row always starts the next row afresh.
  // An empty reference is refused with std::invalid_argument.
  std::shared_ptr<CInterface> Add(std::shared_ptr<CInterface>& objInterface);
  std::shared_ptr<CInterface> Item(std::int32_t vntIndexKey) const;
  // Always fails: there are no keys to find.
  std::shared_ptr<CInterface> Item(const std::string& vntIndexKey) const;
  std::int32_t Count() const { return static_cast<std::int32_t>(entries_.size()); }
  void Remove(std::int32_t vntIndexKey);
  void Remove(const std::string& vntIndexKey);

  // NewEnum: the entries in position order.
  Entries::const_iterator begin() const { return entries_.begin(); }
  Entries::const_iterator end() const { return entries_.end(); }

 private:
  std::size_t Position(std::int32_t index) const;

  Entries entries_;
};

}  // namespace quorrel
