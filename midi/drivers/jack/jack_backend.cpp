#include "midi/drivers/jack/jack_backend.hpp"

#include "midi/drivers/jack/jack_client.hpp"
#include "midi/drivers/jack/jack_input.hpp"
#include "midi/drivers/jack/jack_output.hpp"

namespace tq5::midi {

JackBackend::JackBackend(std::string clientName) : clientName_(std::move(clientName)) {
    JackClient::SilenceLibrary();
    jack_ = std::make_shared<JackClient>(clientName_);
}

JackBackend::~JackBackend() = default;

std::unique_ptr<JackBackend> JackBackend::Open(std::string clientName) {
    auto backend = std::make_unique<JackBackend>(std::move(clientName));
    if (!backend->jack_->Connect()) return nullptr;
    return backend;
}

std::unique_ptr<InputDriver> JackBackend::CreateInput() {
    return CreateJackInput(jack_, clientName_);
}

std::unique_ptr<OutputDriver> JackBackend::CreateOutput() {
    return std::make_unique<JackOutputDriver>(jack_);
}

}  // namespace tq5::midi
