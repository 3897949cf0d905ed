// Updater.exe: WinMM MIDI, the firmware images from the executable's BIN resources.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "app/win32/resource_firmware_store.hpp"
#include "app/win32/rk4_updator_app.hpp"
#include "midi/drivers/winmm/winmm_backend.hpp"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    static tq5::midi::winmm::WinMmBackend backend;
    static const tq5::app::ResourceFirmwareStore firmware;
    static tq5::app::CRk4UpdatorApp app([](int) {
        return tq5::app::CoreSettings{backend, firmware};
    });
    app.InitInstance();
    return 0;
}
