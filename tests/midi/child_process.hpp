#pragma once
// A program that a test starts, talks to through its standard output, and ends by its own
// pid: nothing else on the machine is ever signalled.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace tq5::test {

// The full path of `program` in PATH, or empty.
inline std::string FindInPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        const std::size_t end = dirs.find(':', start);
        const std::string dir = dirs.substr(start, end == std::string::npos ? end : end - start);
        const std::string candidate = (dir.empty() ? "." : dir) + "/" + program;
        struct stat info {};
        if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return {};
}

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess() { Stop(std::chrono::milliseconds(5000)); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts `argv` with this process's environment. Its standard output comes to us (see
    // WaitForLine); its standard error goes to `stderrPath`. Should this process die before
    // it stops the child (a sanitizer ending it at once), the child gets SIGTERM too.
    bool Start(const std::vector<std::string>& argv, const std::string& stderrPath) {
        std::vector<char*> args;
        for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        int out[2];
        if (::pipe(out) != 0) return false;
        const pid_t parent = ::getpid();
        const pid_t child = ::fork();
        if (child == 0) {
            // Only async-signal-safe calls from here to exec.
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (::getppid() != parent) ::_exit(127);
            const int in = ::open("/dev/null", O_RDONLY);
            const int err = ::open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (in < 0 || err < 0) ::_exit(127);
            ::dup2(in, STDIN_FILENO);
            ::dup2(out[1], STDOUT_FILENO);
            ::dup2(err, STDERR_FILENO);
            ::close(out[0]);
            ::close(out[1]);
            ::execve(args[0], args.data(), environ);
            ::_exit(127);
        }
        ::close(out[1]);
        if (child < 0) {
            ::close(out[0]);
            return false;
        }
        pid_ = child;
        stdout_ = out[0];
        output_.clear();  // what an earlier run printed says nothing about this one
        return true;
    }

    // Reads the child's output until a line equal to `line` arrives; false when the child
    // ends or the bound runs out first. Everything read is kept in Output().
    bool WaitForLine(const std::string& line, std::chrono::milliseconds bound) {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        std::size_t scanned = 0;
        while (true) {
            std::size_t end;
            while ((end = output_.find('\n', scanned)) != std::string::npos) {
                if (output_.compare(scanned, end - scanned, line) == 0) return true;
                scanned = end + 1;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || stdout_ < 0) return false;
            pollfd ready{stdout_, POLLIN, 0};
            if (::poll(&ready, 1, static_cast<int>(left.count())) <= 0) continue;
            char buffer[4096];
            const ssize_t got = ::read(stdout_, buffer, sizeof buffer);
            if (got <= 0) return false;  // the child has closed its output: it ended
            output_.append(buffer, static_cast<std::size_t>(got));
        }
    }

    // Waits until the child has a handler of its own for `signal` (the SigCgt mask of
    // /proc/<pid>/status); false when it ends or the bound runs out first. A signal sent
    // before then would end it the default way, before the program had a say.
    bool WaitUntilCatching(int signal, std::chrono::milliseconds bound) {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        const std::uint64_t bit = std::uint64_t{1} << (signal - 1);
        while (IsRunning()) {
            std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
            std::string line;
            while (std::getline(status, line)) {
                if (line.rfind("SigCgt:", 0) == 0 &&
                    (std::stoull(line.substr(7), nullptr, 16) & bit) != 0) {
                    return true;
                }
            }
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    const std::string& Output() const { return output_; }
    pid_t Pid() const { return pid_; }

    bool IsRunning() {
        if (pid_ <= 0) return false;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            Reaped(status);
            return false;
        }
        return true;
    }

    // Sends `signal` to the child (only to it).
    void Signal(int signal) {
        if (pid_ > 0) ::kill(pid_, signal);
    }

    // SIGTERM, then SIGKILL if it has not ended within `bound`. The exit status (as
    // waitpid reports it), or -1 when there was nothing to stop.
    int Stop(std::chrono::milliseconds bound) {
        if (pid_ <= 0) return exitStatus_;
        ::kill(pid_, SIGTERM);
        const auto deadline = std::chrono::steady_clock::now() + bound;
        while (IsRunning()) {
            if (std::chrono::steady_clock::now() >= deadline) {
                ::kill(pid_, SIGKILL);
                int status = 0;
                ::waitpid(pid_, &status, 0);
                Reaped(status);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return exitStatus_;
    }

private:
    void Reaped(int status) {
        exitStatus_ = status;
        pid_ = -1;
        if (stdout_ >= 0) ::close(stdout_);
        stdout_ = -1;
    }

    pid_t pid_ = -1;
    int stdout_ = -1;
    int exitStatus_ = -1;
    std::string output_;
};

}  // namespace tq5::test
