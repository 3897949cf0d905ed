#include "engine/state/port_session.hpp"

namespace tq5::engine {

bool PortSession::ReopenOutput(std::int32_t deviceIndex) {
    std::lock_guard guard(lock_);
    ++generation_;  // from here on, a worker of an older generation leaves the ports alone
    ports_.CloseOutput();
    return ports_.OpenOutput(deviceIndex);
}

bool PortSession::ReopenInput(std::int32_t deviceIndex) {
    std::lock_guard guard(lock_);
    ports_.CloseInput();
    ports_.SetInputDeviceIndex(deviceIndex);
    return ports_.OpenInput();
}

void PortSession::Close() {
    std::lock_guard guard(lock_);
    ports_.CloseOutput();
    ports_.CloseInput();
}

bool PortSession::CloseIfCurrent(PortGeneration generation) {
    std::lock_guard guard(lock_);
    if (generation != generation_) return false;
    ports_.CloseOutput();
    ports_.CloseInput();
    return true;
}

PortGeneration PortSession::Generation() const {
    std::lock_guard guard(lock_);
    return generation_;
}

}  // namespace tq5::engine
