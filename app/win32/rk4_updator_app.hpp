#pragma once
// CRk4UpdatorApp: the program's start-up. Registers the common control classes, claims an
// instance number from 1 to 20 with the named mutexes, and runs the main dialog modally; a
// twenty-first instance shows the refusal and ends without a window.

#include <functional>

#include "app/updater_core.hpp"
#include "app/win32/win32_named_locks.hpp"

namespace tq5::app {

class CRk4UpdatorApp {
public:
    // What the dialog runs on: the MIDI backend and the firmware store. Called once the
    // instance number is claimed, with that number. Updater.exe uses WinMM and the BIN
    // resources; the test build names its virtual ports after the instance.
    using SettingsFactory = std::function<CoreSettings(int instanceNumber)>;

    explicit CRk4UpdatorApp(SettingsFactory settings);

    // Everything of the start-up; returns false in every case, so that the program ends
    // when the dialog has closed (or after the refusal).
    bool InitInstance();

    // 0 until InitInstance has claimed a number, then 1 to 20.
    int GetInstanceNumber() const { return instanceNumber_; }

private:
    SettingsFactory settings_;
    Win32NamedLocks instanceLocks_;  // the claimed mutex stays open for the process's life
    int instanceNumber_ = 0;
};

}  // namespace tq5::app
