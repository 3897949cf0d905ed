#pragma once
// The dialog's two ports as the procedures open and close them. Every reopening starts a new
// port generation, so a worker that ends late (its controls already released, a newer
// procedure already running) closes the ports only if they are still the ones it ran on.

#include <cstdint>
#include <mutex>

#include "engine/seams/midi_ports.hpp"

namespace tq5::engine {

using PortGeneration = std::uint64_t;

class PortSession {
public:
    explicit PortSession(MidiPorts& ports) : ports_(ports) {}
    PortSession(const PortSession&) = delete;
    PortSession& operator=(const PortSession&) = delete;

    // Starts a new generation, then closes the output and opens it on `deviceIndex`; true
    // when open.
    [[nodiscard]] bool ReopenOutput(std::int32_t deviceIndex);
    // Closes the input, sets its device index and opens it; true when open.
    [[nodiscard]] bool ReopenInput(std::int32_t deviceIndex);
    // Closes the output, then the input, whoever opened them.
    void Close();
    // Closes both ports only while `generation` is still the current one; true if it closed.
    [[nodiscard]] bool CloseIfCurrent(PortGeneration generation);
    // The generation of the ports opened last (0 before the first opening).
    PortGeneration Generation() const;

private:
    MidiPorts& ports_;
    mutable std::mutex lock_;  // one open or close sequence at a time
    PortGeneration generation_ = 0;
};

}  // namespace tq5::engine
