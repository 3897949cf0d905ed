#pragma once
// Turns the bytes a MIDI input delivers (whole messages, pieces of one, several at once,
// short messages and real-time bytes in between) into clean System Exclusive messages, the
// way a MIDI receiver must read its stream:
//
//   - real-time bytes (0xF8 to 0xFF) are legal anywhere, also inside a SysEx message; they
//     are removed wherever they stand and never end a message;
//   - 0xF0 inside an unfinished message starts a new one (the unfinished one is dropped);
//   - any other status byte (0x80 to 0xEF, 0xF1 to 0xF6) ends an unfinished message, which
//     is dropped: a message that lost its 0xF7 never swallows the next one;
//   - data bytes outside a message (short messages' data) are dropped.
//
// Each finished message goes to the handler in blocks of at most kInputBlockSize bytes, the
// way a platform with one receive buffer returns a long message: the first block begins
// with 0xF0, the later ones with data bytes. Every input driver feeds its raw input through
// one assembler, so nothing above the drivers ever sees a polluted message.
//
// One thread at a time: a driver feeds it from its input thread only.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "midi/driver.hpp"

namespace tq5::midi {

class SysExAssembler {
public:
    explicit SysExAssembler(SysExBlockHandler handler);

    // Feeds the next bytes of the stream, in order.
    void Feed(const std::uint8_t* bytes, std::size_t length);
    // Forgets an unfinished message (e.g. the platform reported a broken one).
    void Reset();
    // True while a message has begun and not yet ended.
    bool InMessage() const { return inMessage_; }

private:
    void Flush();

    SysExBlockHandler handler_;
    std::vector<std::uint8_t> block_;  // the part of the current message not yet handed on
    bool inMessage_ = false;
};

}  // namespace tq5::midi
