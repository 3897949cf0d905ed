#pragma once
// What the engine needs of the dialog's two MIDI ports to open and close them around a
// procedure. The dialog adapts its MidiInPort and MidiOutPort to it; the engine never sees
// the ports themselves.

#include <cstdint>

namespace tq5::engine {

class MidiPorts {
public:
    virtual ~MidiPorts() = default;
    // Closing a port that is not open does nothing.
    virtual void CloseOutput() = 0;
    // Opens the output on device `deviceIndex` (-1 = nothing selected, passed on unchanged).
    // True when open.
    [[nodiscard]] virtual bool OpenOutput(std::int32_t deviceIndex) = 0;
    virtual void CloseInput() = 0;
    virtual void SetInputDeviceIndex(std::int32_t deviceIndex) = 0;
    // Opens the input on the device index set last. True when open.
    [[nodiscard]] virtual bool OpenInput() = 0;
};

}  // namespace tq5::engine
