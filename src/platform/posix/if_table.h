#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/iphlpapi.h"
#include "platform/posix/link_messages.h"
#include "platform/posix/unique_fd.h"

namespace quorrel::posix {

// GetIfTable's contract, built from the kernel's interface list. What a link
// is (name, type, MTU, address, states, speed) is kept in a cache that one
// RTM_GETLINK dump fills and RTNLGRP_LINK notifications keep current; the
// notifications are read, without waiting, before every snapshot, and an
// overrun of their socket (ENOBUFS) has the cache dumped anew. The counters
// come fresh at every snapshot from one RTM_GETSTATS dump of the 64-bit link
// statistics, whose order is the rows' order (by index when `sort`).
//
// A size query takes the snapshot that the fill right after it hands out, so
// the pair costs one dump, as long as no link changed in between and the fill
// comes within kSharedSnapshotAge. Inside a read batch every call hands out
// the batch's snapshot until a link changes. Any other call takes a snapshot
// of its own.
//
// The sockets are opened on first use, in the network namespace of the
// thread that makes that call, and kept; after a failed dump they are
// dropped with the cache and the next call starts over.
class NetlinkIfTable : public IpHelperApi {
 public:
  static constexpr std::chrono::milliseconds kSharedSnapshotAge{100};

  NetlinkIfTable() = default;
  NetlinkIfTable(const NetlinkIfTable&) = delete;
  NetlinkIfTable& operator=(const NetlinkIfTable&) = delete;

  std::uint32_t GetIfTable(std::byte* table, std::uint32_t& size, bool sort) override;
  void BeginReadBatch() override;
  void EndReadBatch() override;

  // Full link dumps taken so far (the first fill, overruns, unknown links):
  // how tests tell that the cache, not a dump, answered.
  std::uint64_t LinkDumps() const { return linkDumps_; }
  // Counter dumps taken so far: how tests tell that a batch shared one.
  std::uint64_t StatsDumps() const { return statsDumps_; }

 private:
  struct CachedLink {
    LinkRecord record;
    std::vector<std::byte> row;  // kIfRowSize bytes, counters 0
  };
  struct SnapshotRow {
    const CachedLink* link;
    LinkCounters counters;
  };

  bool Open();
  void Close();
  // One request on the dump socket; hands each datagram of the answer to
  // `onDatagram`, which returns the parser's status.
  template <typename OnDatagram>
  NetlinkStatus Request(std::span<const std::byte> request, OnDatagram&& onDatagram);
  // Applies every queued notification; true when one of them changed the
  // cache. An overrun sets `overrun_` and throws the rest away.
  bool ReadNotifications();
  // Refills the cache from one RTM_GETLINK dump.
  bool DumpLinks();
  // Takes `record` into the cache; true when it differs from what was there.
  bool Store(LinkRecord& record);
  LinkProbe ProbeDevice(const LinkRecord& link) const;
  // Brings the cache up to date and takes the counters of every link.
  bool TakeSnapshot();

  UniqueFd dump_;
  UniqueFd notify_;
  std::uint32_t sequence_ = 0;
  bool overrun_ = false;
  std::uint64_t linkDumps_ = 0;
  std::uint64_t statsDumps_ = 0;
  int batchDepth_ = 0;
  bool batchSnapshot_ = false;  // snapshot_ was taken inside the open batch
  std::vector<std::byte> receive_;
  std::vector<LinkChange> changes_;
  std::vector<LinkCounters> counters_;
  std::unordered_map<std::int32_t, CachedLink> links_;
  std::unordered_set<std::int32_t> unlisted_;  // counted, but not in the link dump
  std::vector<SnapshotRow> snapshot_;
  bool shared_ = false;  // snapshot_ was taken by a size query, for the fill after it
  std::chrono::steady_clock::time_point sharedAt_;
};

}  // namespace quorrel::posix
