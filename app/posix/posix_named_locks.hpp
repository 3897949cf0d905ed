#pragma once
// Named locks on POSIX: an flock on one file per name in a per-user folder. The kernel drops
// an flock when the last descriptor of its open file goes, so a lock lives exactly as long
// as the process that took it, however that process ends.

#include <filesystem>
#include <string>
#include <vector>

#include "app/instance_number.hpp"

namespace tq5::app {

class PosixNamedLocks final : public NamedLocks {
public:
    // Locks live in `folder` (created if missing). Tests pass a folder of their own so they
    // never meet a real instance.
    explicit PosixNamedLocks(std::filesystem::path folder);
    // The locks stay held: their descriptors are only closed by the process's end.
    ~PosixNamedLocks() override = default;

    [[nodiscard]] bool TryTake(const std::string& name) override;

    // false when the folder can't be made this user's own (another user's, a link, a file):
    // then no lock can be had and every instance number counts as taken.
    bool FolderUsable() const;
    // The lock files that TryTake found but could not use as locks (a folder or a link in
    // their place, no permission), each as "<path>: <why>". Their numbers count as taken
    // although no instance holds them.
    const std::vector<std::string>& UnusableFiles() const { return unusable_; }
    const std::filesystem::path& Folder() const { return folder_; }

    // $XDG_RUNTIME_DIR/tq5-updater, or /tmp/tq5-updater-<uid> when it is not set.
    static std::filesystem::path DefaultFolder();
    // A file name made of the name's safe characters, every other byte as %XX, so that two
    // names never share a file.
    static std::string LockFileName(const std::string& name);

private:
    std::filesystem::path folder_;
    void NoteUnusable(const std::filesystem::path& file, const char* why);

    std::vector<int> held_;  // descriptors kept open on purpose
    std::vector<std::string> unusable_;
};

}  // namespace tq5::app
