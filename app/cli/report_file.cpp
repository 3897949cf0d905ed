#include "app/cli/report_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tq5::app::cli {
namespace {

std::string Problem(const std::string& what) { return what + ": " + std::strerror(errno); }

// Writes all of `text` to `fd` and closes it; an error text, or empty.
std::string WriteAndClose(int fd, const std::string& text) {
    std::size_t done = 0;
    std::string error;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = Problem("writing failed");
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0 && error.empty()) error = Problem("writing failed");
    return error;
}

// Makes `folder` and the folders above it that are missing, for this user only.
bool MakeFolders(const std::string& folder) {
    for (std::size_t at = 1; at <= folder.size(); ++at) {
        if (at != folder.size() && folder[at] != '/') continue;
        const std::string part = folder.substr(0, at);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    struct stat info {};
    return ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string FileTime(std::chrono::system_clock::time_point at) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(at);
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%SZ", &utc);
    return text;
}

}  // namespace

std::string ReportFolder() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') return std::string(state) + "/tq5-updater";
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') return std::string(home) + "/.local/state/tq5-updater";
    return {};
}

ReportWritten WriteReportTo(const std::string& path, const std::string& text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return {path, Problem("it could not be opened")};
    return {path, WriteAndClose(fd, text)};
}

ReportWritten WriteNewReport(const std::string& text, std::chrono::system_clock::time_point now) {
    const std::string folder = ReportFolder();
    if (folder.empty()) return {"", "neither XDG_STATE_HOME nor HOME names a folder"};
    if (!MakeFolders(folder)) return {folder, Problem("the folder could not be made")};
    const std::string stem = folder + "/failed-update-" + FileTime(now);
    for (int n = 1; n < 100; ++n) {
        std::string path = stem;
        if (n > 1) {
            path += '-';
            path += std::to_string(n);
        }
        path += ".txt";
        // A new file only, and never through a link someone left there.
        const int fd =
            ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) return {path, WriteAndClose(fd, text)};
        if (errno != EEXIST) return {path, Problem("it could not be created")};
    }
    return {stem + ".txt", "too many reports of the same second"};
}

}  // namespace tq5::app::cli
