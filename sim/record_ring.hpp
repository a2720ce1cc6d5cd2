// The newest records of what arrived, kept within a byte budget: the oldest go first, and a
// counter says how many went. The newest record always stays, whatever its size. Not
// thread-safe: the owner locks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <utility>
#include <vector>

namespace korvo::sim {

template <typename Record>
class RecordRing {
 public:
  explicit RecordRing(std::size_t budget_bytes) : budget_(budget_bytes) {}

  void Push(Record record, std::size_t bytes) {
    entries_.push_back({std::move(record), bytes});
    held_ += bytes;
    while (held_ > budget_ && entries_.size() > 1) {
      held_ -= entries_.front().second;
      entries_.pop_front();
      ++dropped_;
    }
  }

  std::vector<Record> Snapshot() const {
    std::vector<Record> out;
    out.reserve(entries_.size());
    for (const auto& entry : entries_) out.push_back(entry.first);
    return out;
  }

  // Forgets the records and the count of those dropped.
  void Clear() {
    entries_.clear();
    held_ = 0;
    dropped_ = 0;
  }

  std::size_t size() const { return entries_.size(); }
  std::size_t held_bytes() const { return held_; }
  std::uint64_t dropped() const { return dropped_; }

 private:
  std::size_t budget_;
  std::deque<std::pair<Record, std::size_t>> entries_;
  std::size_t held_ = 0;
  std::uint64_t dropped_ = 0;
};

}  // namespace korvo::sim
