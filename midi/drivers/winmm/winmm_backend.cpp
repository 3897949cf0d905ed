#include "midi/drivers/winmm/winmm_backend.hpp"

#include "midi/drivers/winmm/winmm_input.hpp"
#include "midi/drivers/winmm/winmm_output.hpp"

namespace tq5::midi::winmm {

std::unique_ptr<InputDriver> WinMmBackend::CreateInput() {
    return std::make_unique<WinMmInputDriver>();
}

std::unique_ptr<OutputDriver> WinMmBackend::CreateOutput() {
    return std::make_unique<WinMmOutputDriver>();
}

}  // namespace tq5::midi::winmm
