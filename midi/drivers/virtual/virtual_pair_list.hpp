#pragma once
// The virtual backend's port pairs, which its drivers share: input device i and output
// device i are pair i. The drivers keep the list alive, so a driver may outlive the backend.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "midi/drivers/virtual/virtual_port_pair.hpp"

namespace tq5::midi {

namespace detail {

class VirtualPairList {
public:
    VirtualPortPair& Add(std::string inputName, std::string outputName) {
        std::lock_guard guard(lock_);
        pairs_.push_back(
            std::make_shared<VirtualPortPair>(std::move(inputName), std::move(outputName)));
        return *pairs_.back();
    }

    std::shared_ptr<VirtualPortPair> At(std::int32_t index) const {
        std::lock_guard guard(lock_);
        if (index < 0 || static_cast<std::size_t>(index) >= pairs_.size()) return nullptr;
        return pairs_[static_cast<std::size_t>(index)];
    }

    std::uint32_t Count() const {
        std::lock_guard guard(lock_);
        return static_cast<std::uint32_t>(pairs_.size());
    }

private:
    mutable std::mutex lock_;
    std::vector<std::shared_ptr<VirtualPortPair>> pairs_;
};

}  // namespace detail

}  // namespace tq5::midi
