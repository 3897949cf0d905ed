#pragma once
// One JACK client that a backend's two drivers share: it lists the server's MIDI ports for
// both and carries the output port, so that an updater holds two clients on the server (this
// one and its input's) however often it lists. Every client costs the server a cycle to open
// and to close, and many instances on one server queue up behind each other there.
//
// The client notes when the server goes away (JACK's shutdown callback), so that a send can
// fail at once instead of waiting for cycles that never come; the next Connect opens a new
// client, so a restarted server is found again. (libjack keeps state for the whole process:
// every client of a server that died must be closed before any client meets a new server.)

#include <jack/jack.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace tq5::midi {

class JackClient {
public:
    // Called on JACK's process thread once per cycle while the output is started, with the
    // output port's buffer, already cleared. It must not block.
    class Processor {
    public:
        virtual void Process(void* portBuffer) = 0;

    protected:
        ~Processor() = default;
    };

    explicit JackClient(std::string name);
    ~JackClient();
    JackClient(const JackClient&) = delete;
    JackClient& operator=(const JackClient&) = delete;

    // True when a server answers. Opens the client when there is none, and again when the
    // server has gone away since (unless the output still runs on the old one).
    [[nodiscard]] bool Connect();

    // Full names ("client:port") of the server's MIDI ports with `flags`, in the server's
    // order: JackPortIsOutput lists the ports that can be read from, JackPortIsInput those
    // that can be written to. Empty without a server.
    std::vector<std::string> MidiPorts(unsigned long flags);

    // Registers the output port, activates the client with `processor` and connects the port
    // to `destination` (a full port name). False, with nothing left running, on failure.
    // Returns once the process thread runs with the connection in place (or after a bound):
    // a message written before that would go nowhere, the first one after an open included.
    [[nodiscard]] bool StartOutput(const std::string& destination, Processor& processor);
    // Deactivates the client, so that the processor is never called again once this
    // returns, and drops the port (and the whole client, when its server has gone).
    void StopOutput();

    // True once the server has shut down or thrown this client out.
    bool ServerGone() const { return gone_.load(); }

    // Keeps libjack's own complaints off stderr: the drivers report failures as failed
    // calls, and the programs say what went wrong in their own words.
    static void SilenceLibrary();

private:
    static int OnProcess(jack_nframes_t frames, void* self);
    static void OnShutdown(jack_status_t code, const char* reason, void* self);
    bool ConnectLocked();
    void StopOutputLocked();

    const std::string name_;
    std::mutex lock_;  // the client and the port, for every call but the process callback
    jack_client_t* client_ = nullptr;
    jack_port_t* port_ = nullptr;
    bool active_ = false;
    // What the process callback reads: set before activation, cleared after deactivation.
    std::atomic<jack_port_t*> processPort_{nullptr};
    std::atomic<Processor*> processor_{nullptr};
    std::atomic<bool> gone_{false};
    // Set by the process callback once it sees the output port connected.
    std::atomic<bool> linked_{false};
};

}  // namespace tq5::midi
