#include "web/src/web_report.hpp"

#include <algorithm>
#include <vector>

#include "app/port_names.hpp"
#include "app/preferred_ports.hpp"
#include "app/support_report.hpp"
#include "firmware/embedded_firmware.hpp"
#include "firmware/program_version.hpp"

// The page's side (dialog_view_library.js): UTF-8 texts written into `buffer` (at most `size`
// bytes with the closing zero); each returns the text's length.
extern "C" {
int tq5_view_user_agent(char* buffer, int size);
int tq5_view_list_entry_text(int listId, int index, char* buffer, int size);
}

namespace tq5::web {
namespace {

constexpr int kTextSize = 1024;

template <typename Fetch>
std::string FetchText(Fetch fetch) {
    std::vector<char> buffer(kTextSize);
    const int length = fetch(buffer.data(), kTextSize);
    return std::string(buffer.data(),
                       static_cast<std::size_t>(std::clamp(length, 0, kTextSize - 1)));
}

// The port a list selected: its text as the page shows it, and whether it was the entry the
// dialog preselected (a preferred name) or one the user picked.
template <typename Port>
app::ReportPort SelectedPort(Port& port, app::PortList list, std::int32_t index) {
    app::ReportPort selected;
    selected.index = index;
    if (index < 0) return selected;
    const int listId =
        static_cast<int>(list == app::PortList::Input ? app::kIdMidiInList : app::kIdMidiOutList);
    selected.name = FetchText([&](char* buffer, int size) {
        return tq5_view_list_entry_text(listId, index, buffer, size);
    });
    const std::vector<std::string> entries = app::ListDeviceNames(port);
    selected.chosenBy = app::FindPreferredPort(entries, 1) == index ? "preferred" : "picked";
    return selected;
}

}  // namespace

std::string PageReport(app::CRk4UpdatorDlg& dialog, const engine::Outcome& outcome,
                       const engine::Progress& last) {
    app::UpdaterCore& core = dialog.Core();
    app::ReportFacts facts;
    facts.program = "web page";
    facts.programVersion = std::string(firmware::ProgramVersion());
    facts.images = &firmware::EmbeddedFirmware();
    facts.generatedImages = firmware::EmbeddedFirmwareIsGenerated();
    facts.command = "update";
    facts.computer.emplace_back("user-agent", FetchText(tq5_view_user_agent));
    facts.midiSystem = "Web MIDI";
    facts.instance = 1;
    facts.output = SelectedPort(core.Output(), app::PortList::Output, dialog.GetSelectedOutput());
    facts.input = SelectedPort(core.Input(), app::PortList::Input, dialog.GetSelectedInput());
    facts.verify = true;
    facts.outcome = outcome;
    facts.lastProgress = last;
    facts.traffic = core.Context().Log().Snapshot();
    return app::SupportReportText(facts);
}

}  // namespace tq5::web
