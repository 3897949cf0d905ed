#include "midi/drivers/alsa/alsa_backend.hpp"

#include "midi/drivers/alsa/alsa_input.hpp"
#include "midi/drivers/alsa/alsa_output.hpp"
#include "midi/drivers/alsa/alsa_sequencer.hpp"

namespace tq5::midi {

AlsaBackend::AlsaBackend(std::string clientName) : clientName_(std::move(clientName)) {}

std::unique_ptr<InputDriver> AlsaBackend::CreateInput() { return CreateAlsaInput(clientName_); }

std::unique_ptr<OutputDriver> AlsaBackend::CreateOutput() { return CreateAlsaOutput(clientName_); }

std::unique_ptr<AlsaBackend> AlsaBackend::Open(std::string clientName) {
    if (!AlsaSequencer::IsReachable()) return nullptr;
    return std::make_unique<AlsaBackend>(std::move(clientName));
}

}  // namespace tq5::midi
