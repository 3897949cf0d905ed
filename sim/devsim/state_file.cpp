#include "sim/devsim/state_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace tq5::sim {
namespace {

std::string Folder(const std::string& path) {
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

bool WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = ::write(fd, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        done += static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace

std::string StateFileProblem(const std::string& path) {
    if (path.empty() || path.back() == '/') return "it names no file";
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0) {
        return S_ISREG(info.st_mode) ? std::string() : "it exists and is not a regular file";
    }
    if (errno != ENOENT) return std::strerror(errno);
    struct stat folder {};
    if (::stat(Folder(path).c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode)) {
        return "its folder does not exist";
    }
    return {};
}

bool WriteStateFile(const std::string& path, const std::string& report, std::string& problem) {
    problem = StateFileProblem(path);
    if (!problem.empty()) return false;
    std::string temporary =
        Folder(path) + "/." + std::filesystem::path(path).filename().string() + ".XXXXXX";
    // mkstemp creates the file with O_CREAT | O_EXCL: it never follows a link or opens a
    // file that was there before.
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        problem = std::strerror(errno);
        return false;
    }
    bool written = ::fchmod(fd, 0644) == 0 && WriteAll(fd, report);
    if (::close(fd) != 0) written = false;
    // Checked once more just before the rename, which would replace whatever is there now.
    if (written) problem = StateFileProblem(path);
    if (written && problem.empty() && std::rename(temporary.c_str(), path.c_str()) == 0) {
        return true;
    }
    if (problem.empty()) problem = std::strerror(errno);
    ::unlink(temporary.c_str());
    return false;
}

}  // namespace tq5::sim
