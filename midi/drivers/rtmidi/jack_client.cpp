#include "midi/drivers/rtmidi/jack_client.hpp"

#include <jack/midiport.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace tq5::midi {
namespace {

void Discard(const char*) {}

// How long an open waits for its connection to reach the process thread: a cycle or two.
constexpr auto kLinkBound = std::chrono::seconds(1);

}  // namespace

void JackClient::SilenceLibrary() {
    static std::once_flag once;
    std::call_once(once, [] {
        jack_set_error_function(&Discard);
        jack_set_info_function(&Discard);
    });
}

JackClient::JackClient(std::string name) : name_(std::move(name)) {}

JackClient::~JackClient() {
    std::lock_guard guard(lock_);
    StopOutputLocked();
    // With the server gone this returns at once; with a live one it costs a cycle.
    if (client_ != nullptr) jack_client_close(client_);
}

bool JackClient::Connect() {
    std::lock_guard guard(lock_);
    return ConnectLocked();
}

bool JackClient::ConnectLocked() {
    if (client_ != nullptr && gone_.load()) {
        if (active_) return false;  // the output still runs on the old client
        jack_client_close(client_);
        client_ = nullptr;
        port_ = nullptr;
    }
    if (client_ != nullptr) return true;
    SilenceLibrary();
    gone_.store(false);
    client_ = jack_client_open(name_.c_str(), JackNoStartServer, nullptr);
    if (client_ == nullptr) return false;
    jack_set_process_callback(client_, &JackClient::OnProcess, this);
    jack_on_info_shutdown(client_, &JackClient::OnShutdown, this);
    return true;
}

std::vector<std::string> JackClient::MidiPorts(unsigned long flags) {
    std::lock_guard guard(lock_);
    std::vector<std::string> names;
    if (!ConnectLocked()) return names;
    const char** ports = jack_get_ports(client_, nullptr, JACK_DEFAULT_MIDI_TYPE, flags);
    if (ports == nullptr) return names;
    for (const char** port = ports; *port != nullptr; ++port) names.emplace_back(*port);
    jack_free(ports);
    return names;
}

bool JackClient::StartOutput(const std::string& destination, Processor& processor) {
    std::lock_guard guard(lock_);
    if (active_ || !ConnectLocked()) return false;
    if (port_ == nullptr) {
        port_ = jack_port_register(client_, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        if (port_ == nullptr) return false;
    }
    linked_.store(false);
    processPort_.store(port_);
    processor_.store(&processor);
    if (jack_activate(client_) != 0) {
        StopOutputLocked();
        return false;
    }
    active_ = true;
    const int connected = jack_connect(client_, jack_port_name(port_), destination.c_str());
    if (connected != 0 && connected != EEXIST) {
        StopOutputLocked();
        return false;
    }
    const auto bound = std::chrono::steady_clock::now() + kLinkBound;
    while (!linked_.load() && !gone_.load() && std::chrono::steady_clock::now() < bound) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void JackClient::StopOutput() {
    std::lock_guard guard(lock_);
    StopOutputLocked();
}

void JackClient::StopOutputLocked() {
    if (active_) {
        jack_deactivate(client_);
        active_ = false;
    }
    processor_.store(nullptr);
    processPort_.store(nullptr);
    if (client_ != nullptr && gone_.load()) {
        // Nothing of a client whose server has gone is of use any more, and libjack wants
        // every dead client of the process closed before another one meets a new server.
        jack_client_close(client_);
        client_ = nullptr;
        port_ = nullptr;
        return;
    }
    if (port_ != nullptr) {
        jack_port_unregister(client_, port_);
        port_ = nullptr;
    }
}

int JackClient::OnProcess(jack_nframes_t frames, void* self) {
    auto* client = static_cast<JackClient*>(self);
    jack_port_t* port = client->processPort_.load();
    Processor* processor = client->processor_.load();
    if (port == nullptr || processor == nullptr) return 0;
    if (!client->linked_.load() && jack_port_connected(port) > 0) client->linked_.store(true);
    void* buffer = jack_port_get_buffer(port, frames);
    if (buffer == nullptr) return 0;
    jack_midi_clear_buffer(buffer);
    processor->Process(buffer);
    return 0;
}

void JackClient::OnShutdown(jack_status_t, const char*, void* self) {
    static_cast<JackClient*>(self)->gone_.store(true);
}

}  // namespace tq5::midi
