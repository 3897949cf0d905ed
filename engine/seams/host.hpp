#pragma once
// The operations through which a procedure acts on the window that started it. The main
// dialog provides them; the command line and the tests provide their own.

#include <cstdint>
#include <string_view>

#include "engine/outcome.hpp"

namespace tq5::engine {

enum class MessageIcon { Error, Information };

class Host {
public:
    virtual ~Host() = default;
    // Modal message box with an OK button; returns when the user has dismissed it.
    virtual void ShowMessageBox(std::string_view text, std::string_view caption,
                                MessageIcon icon) = 0;
    virtual void SetStatusText(std::string_view text) = 0;
    virtual void SetCounterText(std::string_view text) = 0;
    virtual void SetProgressRange(std::int32_t upper) = 0;  // range 0..upper, 32-bit
    virtual void SetProgressPos(std::int32_t position) = 0;
    // Disables both port lists and Execute, Rescan Device, Version Check; busy flag := 1.
    virtual void LockControls() = 0;
    // Enables both port lists and Version Check, Execute, Rescan Device; busy flag := 0.
    virtual void ReleaseControls() = 0;
    // Enables or disables Execute and then Version Check.
    virtual void EnableActions(bool on) = 0;
    virtual std::int32_t GetSelectedOutput() = 0;  // -1 when nothing is selected
    virtual std::int32_t GetSelectedInput() = 0;
    // Posts the version check's completion to the window's thread: whether the device's
    // versions were read.
    virtual void PostVersionCheckDone(bool versionsRead) = 0;

    // The same story as data, for hosts that decide by it. An update reports its outcome
    // once, before it releases the controls (not when the window is closing).
    virtual void ReportProgress(const Progress& /*progress*/) {}
    virtual void ReportOutcome(const Outcome& /*outcome*/) {}
};

}  // namespace tq5::engine
