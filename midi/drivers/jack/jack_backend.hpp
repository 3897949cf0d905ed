#pragma once
// MIDI on JACK. Ports are listed by their full names ("client:port"). Input goes through
// RtMidi (jack_input.hpp), output through a client of our own (jack_output.hpp), which also
// lists the ports for both drivers. Failures end as failed operations (no server: no
// devices, opens fail), never as exceptions or text on stderr.

#include <memory>
#include <string>

#include "midi/driver.hpp"

namespace tq5::midi {

class JackClient;

class JackBackend final : public MidiBackend {
public:
    // `clientName` names this program's clients on the server.
    explicit JackBackend(std::string clientName = "tq5-updater");
    ~JackBackend() override;

    // The backend when a server answers, else null. The client that asked stays to list the
    // ports for the drivers, so asking costs no client of its own.
    static std::unique_ptr<JackBackend> Open(std::string clientName = "tq5-updater");

    std::unique_ptr<InputDriver> CreateInput() override;
    std::unique_ptr<OutputDriver> CreateOutput() override;

private:
    std::string clientName_;
    std::shared_ptr<JackClient> jack_;  // shared by the drivers made here
};

}  // namespace tq5::midi
