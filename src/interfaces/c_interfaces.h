#pragma once
// CInterfaces: the ordered entries of one snapshot. Positions count from 1;
// entries carry no keys.
#include <cstdint>
#include <functional>
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
  // Appends `count` entries that `make` builds from their row numbers
  // (0 to count - 1) the first time each is reached, by Item or by
  // enumeration. A snapshot is read for one entry at a time (the adapter list,
  // the bandwidth tick), so it then costs one entry, not one per row.
  using EntryMaker = std::function<std::shared_ptr<CInterface>(std::size_t row)>;
  void AddDeferred(std::size_t count, EntryMaker make);
  std::shared_ptr<CInterface> Item(std::int32_t vntIndexKey) const;
  // Always fails: there are no keys to find.
  std::shared_ptr<CInterface> Item(const std::string& vntIndexKey) const;
  std::int32_t Count() const { return static_cast<std::int32_t>(entries_.size()); }
  void Remove(std::int32_t vntIndexKey);
  void Remove(const std::string& vntIndexKey);

  // NewEnum: the entries in position order.
  Entries::const_iterator begin() const;
  Entries::const_iterator end() const { return entries_.end(); }

 private:
  std::size_t Position(std::int32_t index) const;
  const std::shared_ptr<CInterface>& Made(std::size_t position) const;

  // A deferred entry is empty here until it is made; rows_ then says which
  // row it is made from (rows_ stays empty while nothing is deferred).
  mutable Entries entries_;
  std::vector<std::size_t> rows_;
  EntryMaker make_;
};

}  // namespace quorrel
