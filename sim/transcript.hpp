#pragma once
// The virtual TQ-5's record of every message both ways, with the time it passed and what
// the device made of it.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace tq5::sim {

enum class Direction { ToDevice, FromDevice };

struct TranscriptEntry {
    Direction direction = Direction::ToDevice;
    std::chrono::steady_clock::duration at{};  // since the device started: arrival or delivery
    std::vector<std::uint8_t> bytes;
    std::string note;  // faults committed, or why a message was ignored
};

// One line for a message: "WriteBlock 0x032000 n=4096", "Status 0", "IdentityReply 6E 00 05 00".
std::string DescribeMessage(const std::uint8_t* bytes, std::size_t length, Direction direction);

// "   1.234567 s  updater -> device  EraseRequest 0x0D2000 size 0x001000  [note]"
std::string FormatEntry(const TranscriptEntry& entry);

// Bounded record: beyond `limit` entries the oldest are dropped (a full update makes about
// two thousand).
class Transcript {
public:
    explicit Transcript(std::size_t limit = 20000) : limit_(limit) {}
    void Add(TranscriptEntry entry);
    void Clear() { entries_.clear(); }
    void SetLimit(std::size_t limit);
    std::vector<TranscriptEntry> Entries() const { return {entries_.begin(), entries_.end()}; }

private:
    std::size_t limit_;
    std::deque<TranscriptEntry> entries_;
};

}  // namespace tq5::sim
