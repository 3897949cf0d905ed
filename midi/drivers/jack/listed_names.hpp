#pragma once
// A driver's device list as the user last saw it. Ports come and go between the listing and
// the open (on JACK, our own output port among them), so an index is resolved against the
// list the user chose from, never against a fresh one.

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace tq5::midi {

class ListedNames {
public:
    explicit ListedNames(std::function<std::vector<std::string>()> read) : read_(std::move(read)) {}

    // Reads the list afresh and keeps it.
    std::vector<std::string> Read() {
        std::vector<std::string> names = read_();
        std::lock_guard guard(lock_);
        kept_ = names;
        return names;
    }
    std::uint32_t Count() { return static_cast<std::uint32_t>(Read().size()); }
    std::string Name(std::uint32_t index) {
        const std::vector<std::string> names = Read();
        return index < names.size() ? names[index] : std::string();
    }

    // The name at `index` in the list as last read (read now if none was); empty if there is
    // no such entry.
    std::string Chosen(std::int32_t index) {
        if (index < 0) return {};
        const auto at = static_cast<std::size_t>(index);
        {
            std::lock_guard guard(lock_);
            if (at < kept_.size()) return kept_[at];
        }
        const std::vector<std::string> names = Read();
        return at < names.size() ? names[at] : std::string();
    }

private:
    const std::function<std::vector<std::string>()> read_;
    std::mutex lock_;
    std::vector<std::string> kept_;
};

}  // namespace tq5::midi
