#pragma once
// The version check's six texts: device and image versions of boot, preset and system.
// Written by the check's worker, read by the report on the window's thread; they keep their
// last values for the life of the owner.

#include <array>
#include <mutex>
#include <string>

namespace tq5::engine {

enum class VersionSource { Device = 0, Image = 1 };
enum class VersionSlot { Boot = 0, Preset = 1, System = 2 };

class VersionStrings {
public:
    std::string Get(VersionSource source, VersionSlot slot) const {
        std::lock_guard guard(lock_);
        return texts_[Index(source)][Index(slot)];
    }
    void Set(VersionSource source, VersionSlot slot, std::string text) {
        std::lock_guard guard(lock_);
        texts_[Index(source)][Index(slot)] = std::move(text);
    }

private:
    template <typename E>
    static std::size_t Index(E e) {
        return static_cast<std::size_t>(e);
    }

    mutable std::mutex lock_;
    std::array<std::array<std::string, 3>, 2> texts_{};
};

}  // namespace tq5::engine
