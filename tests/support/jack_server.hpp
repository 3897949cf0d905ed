#pragma once
// A private JACK server for a test: jackd with the dummy driver, started and ended by its
// own pid, under a name that is fixed for the test and the build tree (never the pid). A
// server that dies uncleanly keeps its slot in JACK's registry of servers, which holds eight,
// until a server of the same name starts again; so a server that this test killed, or that
// would not end on SIGTERM, is started once more under its name and ended cleanly.
//
// The test's own clients and its children find the server through JACK_DEFAULT_SERVER,
// which the constructor sets.

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "midi/child_process.hpp"
#include "midi/drivers/jack/jack_backend.hpp"

namespace tq5::test {

class JackServer {
public:
    // `options`: jackd's own options (e.g. "--sync"); `frames`: the dummy driver's period.
    JackServer(std::string name, std::string logPath, std::vector<std::string> options, int frames)
        : name_(std::move(name)),
          log_(std::move(logPath)),
          options_(std::move(options)),
          frames_(frames) {
        ::setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
        ::setenv("JACK_NO_START_SERVER", "1", 1);
        ::setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
    }
    ~JackServer() { Stop(); }
    JackServer(const JackServer&) = delete;
    JackServer& operator=(const JackServer&) = delete;

    static std::string Jackd() { return FindInPath("jackd"); }
    const std::string& Name() const { return name_; }
    pid_t Pid() const { return server_.Pid(); }

    // Starts the server and waits until it answers (up to 30 s: a busy machine); false, with
    // the reason, otherwise. Realtime where the system allows it, as users run JACK; jackd
    // goes on without it where it does not. A server that is not realtime starves beside
    // busy processes, and its clients time out of the graph.
    bool Start(std::string& error) {
        const std::string jackd = Jackd();
        std::vector<std::string> args{jackd, "--name", name_};
        args.insert(args.end(), options_.begin(), options_.end());
        for (const char* arg : {"-d", "dummy", "--rate", "48000", "--period"}) {
            args.emplace_back(arg);
        }
        args.push_back(std::to_string(frames_));
        if (jackd.empty() || !server_.Start(args, log_)) {
            error = "jackd could not be started";
            return false;
        }
        for (int i = 0; i < 300 && server_.IsRunning(); ++i) {
            if (midi::JackBackend::Open("tq5-probe")) {
                uncleanEnd_ = false;  // a start under the name frees the slot of the last one
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        error = "jackd did not come up (its log: " + log_ + ")";
        return false;
    }

    // As a server dies: SIGKILL, and gone once this returns.
    void Kill() {
        if (!server_.IsRunning()) return;
        server_.Signal(SIGKILL);
        server_.Stop(std::chrono::milliseconds(5000));
        uncleanEnd_ = true;
    }
    // A server that stops answering without dying.
    void Freeze() { server_.Signal(SIGSTOP); }
    void Thaw() { server_.Signal(SIGCONT); }

    // Ends the server cleanly; one that ended uncleanly is started again and ended once
    // more. Semaphores that clients of a killed server of this name left are removed.
    void Stop() {
        Thaw();
        EndOnce();
        if (uncleanEnd_) {
            uncleanEnd_ = false;
            std::string ignored;
            if (Start(ignored)) EndOnce();
        }
        if (!server_.IsRunning()) RemoveLeftSemaphores();
    }

private:
    void EndOnce() {
        if (!server_.IsRunning()) return;
        const int status = server_.Stop(std::chrono::milliseconds(5000));
        if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) uncleanEnd_ = true;
    }

    // jackd names a client's semaphore "jack_sem.<uid>_<server>_<client>" in /dev/shm.
    void RemoveLeftSemaphores() const {
        const std::string prefix = "jack_sem." + std::to_string(::getuid()) + "_" + name_ + "_";
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", error)) {
            if (entry.path().filename().string().rfind(prefix, 0) == 0) {
                std::filesystem::remove(entry.path(), error);
            }
        }
    }

    const std::string name_;
    const std::string log_;
    const std::vector<std::string> options_;
    const int frames_;
    ChildProcess server_;
    bool uncleanEnd_ = false;
};

}  // namespace tq5::test
