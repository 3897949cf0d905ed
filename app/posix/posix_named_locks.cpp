#include "app/posix/posix_named_locks.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tq5::app {
namespace {

bool IsSafeFileChar(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-' || c == '_';
}

// A folder only this user can write into, so nobody else can plant or hold our lock files.
bool EnsurePrivateFolder(const std::filesystem::path& folder) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0) return false;
    return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid();
}

}  // namespace

PosixNamedLocks::PosixNamedLocks(std::filesystem::path folder) : folder_(std::move(folder)) {}

std::filesystem::path PosixNamedLocks::DefaultFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') {
        return std::filesystem::path(runtime) / "tq5-updater";
    }
    return std::filesystem::path("/tmp") / ("tq5-updater-" + std::to_string(::geteuid()));
}

std::string PosixNamedLocks::LockFileName(const std::string& name) {
    std::string out;
    for (const char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        if (IsSafeFileChar(c) && c != '%') {
            out += ch;
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            out += escaped;
        }
    }
    return out + ".lock";
}

bool PosixNamedLocks::FolderUsable() const { return EnsurePrivateFolder(folder_); }

void PosixNamedLocks::NoteUnusable(const std::filesystem::path& file, const char* why) {
    unusable_.push_back(file.string() + ": " + why);
}

bool PosixNamedLocks::TryTake(const std::string& name) {
    if (!EnsurePrivateFolder(folder_)) return false;
    const std::filesystem::path file = folder_ / LockFileName(name);
    const int fd =
        ::open(file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0) {
        NoteUnusable(file, errno == EISDIR  ? "a folder"
                           : errno == ELOOP ? "a symbolic link"
                                            : std::strerror(errno));
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        NoteUnusable(file, "not a regular file");
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        if (error != EWOULDBLOCK) NoteUnusable(file, std::strerror(error));
        return false;  // another instance holds it
    }
    held_.push_back(fd);
    return true;
}

}  // namespace tq5::app
