#pragma once
// Runs a program with arguments and extra environment, collecting its exit code, stdout and
// stderr. Optionally watches its output while it runs and, once a text appears, sends it
// signals or stops reading its stdout.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace tq5::test {

struct ProgramResult {
    int exitCode = -1;  // 128 + signal when a signal ended it
    int killedBy = 0;   // that signal
    std::string out;
    std::string err;
    double msAfterSignal = -1;  // from the signal (or the closing of stdout) to the end
};

struct SignalWhen {
    std::string seenInStdout;  // empty: never (unless seenInStderr)
    int signal = SIGINT;
    std::string seenInStderr;  // the same, watching stderr
    int times = 1;             // how many signals are sent at that moment
    bool closeStdout = false;  // instead: stop reading stdout and close it, as `head` does
};

inline ProgramResult RunProgram(const std::string& path, const std::vector<std::string>& args,
                                const std::map<std::string, std::string>& env = {},
                                const SignalWhen& when = {}) {
    int outPipe[2];
    int errPipe[2];
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        close(outPipe[0]);
        close(errPipe[0]);
        close(outPipe[1]);
        close(errPipe[1]);
        for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
        std::vector<char*> argv{const_cast<char*>(path.c_str())};
        for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(path.c_str(), argv.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);

    ProgramResult result;
    bool signalled = when.seenInStdout.empty() && when.seenInStderr.empty();
    std::chrono::steady_clock::time_point signalledAt{};
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int open = 2;
    while (open > 0) {
        if (poll(fds, 2, -1) < 0) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
                continue;
            }
            (i == 0 ? result.out : result.err).append(buffer, static_cast<std::size_t>(n));
        }
        const auto holds = [](const std::string& text, const std::string& part) {
            return !part.empty() && text.find(part) != std::string::npos;
        };
        const bool seen =
            holds(result.out, when.seenInStdout) || holds(result.err, when.seenInStderr);
        if (!signalled && seen) {
            signalled = true;
            signalledAt = std::chrono::steady_clock::now();
            if (when.closeStdout) {
                if (fds[0].fd >= 0) {
                    close(fds[0].fd);
                    fds[0].fd = -1;
                    --open;
                }
            } else {
                for (int i = 0; i < when.times; ++i) kill(pid, when.signal);
            }
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (signalledAt != std::chrono::steady_clock::time_point{}) {
        result.msAfterSignal = std::chrono::duration<double, std::milli>(
                                   std::chrono::steady_clock::now() - signalledAt)
                                   .count();
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (WIFSIGNALED(status)) result.killedBy = WTERMSIG(status);
    return result;
}

}  // namespace tq5::test
