#include "midi/sysex_assembler.hpp"

#include <utility>

namespace tq5::midi {
namespace {

constexpr std::uint8_t kSysExStart = 0xF0;
constexpr std::uint8_t kSysExEnd = 0xF7;
constexpr std::uint8_t kFirstRealTime = 0xF8;

}  // namespace

SysExAssembler::SysExAssembler(SysExBlockHandler handler) : handler_(std::move(handler)) {
    block_.reserve(kInputBlockSize);
}

void SysExAssembler::Reset() {
    block_.clear();
    inMessage_ = false;
}

void SysExAssembler::Flush() {
    if (!block_.empty() && handler_) handler_(block_.data(), block_.size());
    block_.clear();
}

void SysExAssembler::Feed(const std::uint8_t* bytes, std::size_t length) {
    if (bytes == nullptr) return;
    for (std::size_t i = 0; i < length; ++i) {
        const std::uint8_t b = bytes[i];
        if (b < 0x80) {
            if (!inMessage_) continue;  // data of a short message, or of nothing
            block_.push_back(b);
            // A full receive buffer goes up as it is; the message goes on in the next block.
            if (block_.size() == kInputBlockSize) Flush();
        } else if (b >= kFirstRealTime) {
            continue;  // clock, active sensing and the rest: never part of a message
        } else if (b == kSysExStart) {
            block_.clear();  // an unfinished message is dropped
            block_.push_back(b);
            inMessage_ = true;
        } else if (b == kSysExEnd) {
            if (!inMessage_) continue;
            block_.push_back(b);
            inMessage_ = false;
            Flush();
        } else {
            Reset();  // another status byte: the unfinished message is dropped
        }
    }
}

}  // namespace tq5::midi
