// The updater's module in the page: what the page's script calls once it has MIDI access
// (tq5_web_open_dialog) and for every user action. The dialog runs on its own thread
// (DialogThread), on the Web MIDI backend, with the images built into the module; like the
// command line it reads the written flash back before it reports an update completed.

#include <emscripten/emscripten.h>

#include <atomic>
#include <cstdint>
#include <memory>

#include "app/rk4_updator_dlg.hpp"
#include "firmware/embedded_firmware.hpp"
#include "midi/drivers/webmidi/webmidi_backend.hpp"
#include "web/src/dialog_thread.hpp"
#include "web/src/web_dialog_view.hpp"

extern "C" void tq5_view_closed();

namespace tq5::web {
namespace {

struct Page {
    midi::WebMidiBackend backend;
    DialogThread thread;
    // Made once and kept for the page's life: the main thread may still report a dismissed
    // box while the dialog goes away.
    std::atomic<WebDialogView*> view{nullptr};
    std::unique_ptr<app::CRk4UpdatorDlg> dialog;
    std::atomic<bool> started{false};
};

Page& ThePage() {
    static Page page;
    return page;
}

// The dialog thread's whole life: the window's creation, its handlers, its destruction.
void RunDialog(Page& page) {
    auto* view = new WebDialogView(page.thread);
    page.view.store(view);
    app::CoreSettings settings{page.backend, firmware::EmbeddedFirmware()};
    settings.verifyFlash = true;
    page.dialog = std::make_unique<app::CRk4UpdatorDlg>(*view, 1, settings);
    view->Attach(*page.dialog);
    page.dialog->OnInitDialog();

    page.thread.RunUntilQuit();

    // The window goes: boxes and waiting workers let go first, then the dialog's own closing
    // (closing flag, host cut off, ports closed); destruction stops the poll and waits for the
    // workers, which end at their next wait.
    view->Close();
    page.dialog->OnDestroy();
    page.dialog.reset();
    tq5_view_closed();
}

}  // namespace
}  // namespace tq5::web

extern "C" {

// Opens the dialog; once per page. 0 when it was open already.
EMSCRIPTEN_KEEPALIVE int tq5_web_open_dialog() {
    using namespace tq5::web;
    Page& page = ThePage();
    if (page.started.exchange(true)) return 0;
    page.thread.Start([&page] { RunDialog(page); });
    return 1;
}

// A button or key: 1 Execute (Enter), 2 Exit (Esc, the close box), 1004 Rescan Device,
// 1007 Version Check.
EMSCRIPTEN_KEEPALIVE void tq5_web_command(std::uint32_t commandId) {
    using namespace tq5::web;
    Page& page = ThePage();
    page.thread.Post([&page, commandId] {
        if (!page.dialog) return;
        if (page.dialog->OnCommand(commandId) == tq5::app::CommandResult::CloseDialog) {
            page.thread.Quit();
        }
    });
}

// An entry of the window's system menu.
EMSCRIPTEN_KEEPALIVE void tq5_web_system_command(std::uint32_t commandId) {
    using namespace tq5::web;
    Page& page = ThePage();
    page.thread.Post([&page, commandId] {
        if (page.dialog) page.dialog->OnSysCommand(commandId, 0);
    });
}

// The user dismissed box `token` (its OK button, Enter, Esc or its close box).
EMSCRIPTEN_KEEPALIVE void tq5_web_box_dismissed(std::uint32_t token) {
    using namespace tq5::web;
    if (WebDialogView* view = ThePage().view.load()) view->BoxDismissed(token);
}

}  // extern "C"
