#pragma once
// MIDI input on JACK through RtMidi, on a client of its own (RtMidi's), which RtMidi's
// thread reads. The ports are listed through the client the backend's drivers share.

#include <memory>
#include <string>

#include "midi/driver.hpp"
#include "midi/drivers/jack/jack_client.hpp"

namespace tq5::midi {

// `clientName` names the input's own client on the server.
std::unique_ptr<InputDriver> CreateJackInput(std::shared_ptr<JackClient> client,
                                             std::string clientName);

}  // namespace tq5::midi
