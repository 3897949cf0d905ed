#include "app/cli/port_search.hpp"

#include <algorithm>
#include <cstdio>

#include "app/cli/cli_options.hpp"
#include "app/preferred_ports.hpp"
#include "app/printable_text.hpp"

namespace tq5::app::cli {
namespace {

std::string Entry(const char* kind, std::int32_t index, const std::vector<std::string>& names) {
    std::string text = std::string("MIDI ") + kind + " " + std::to_string(index);
    if (index >= 0 && static_cast<std::size_t>(index) < names.size()) {
        text += " \"" + PrintableText(names[static_cast<std::size_t>(index)]) + "\"";
    }
    return text;
}

std::string Pair(const PortLists& lists, const AnsweringDevice& device) {
    return Entry("out", device.output, lists.outputs) + ", " +
           Entry("in", device.input, lists.inputs);
}

std::string IdText(const protocol::DeviceId& id) {
    char text[12];
    std::snprintf(text, sizeof text, "%02X %02X %02X %02X", id[0], id[1], id[2], id[3]);
    return text;
}

std::string Count(std::size_t n, const char* what) {
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

std::string NotTq5s(const PortLists& lists, const SearchResult& search) {
    std::string text;
    for (const AnsweringDevice& device : search.others) {
        text += "\n  not a TQ-5 (device id " + IdText(device.id) + "): " + Pair(lists, device);
    }
    return text;
}

// "TQ-5 answered the identity request (asked ..., listened on ...).", and who else did.
std::string NoTq5(const PortLists& lists, const SearchResult& search) {
    return "TQ-5 answered the identity request (asked " +
           Count(search.outputsAsked, "MIDI output") + ", listened on " +
           Count(search.inputsHeard, "MIDI input") + ")." + NotTq5s(lists, search);
}

std::string NoneAnswered(const PortLists& lists, const SearchResult& search) {
    return "no " + NoTq5(lists, search) +
           "\nConnect the TQ-5 to this computer by USB (or with two MIDI cables: its MIDI OUT "
           "to an input of the computer, its MIDI IN to an output), switch it on and run "
           "again; or name its ports with --out and --in (`tq5-updater ports` lists them).";
}

std::string SeveralAnswered(const PortLists& lists, const SearchResult& search) {
    std::string text = Count(search.tq5s.size(), "TQ-5") +
                       " answered; choose one with --out "
                       "and --in:";
    for (const AnsweringDevice& device : search.tq5s) text += "\n  " + Pair(lists, device);
    return text;
}

}  // namespace

FoundPorts FindTq5Ports(midi::MidiBackend& backend, const PortLists& lists,
                        const PortChoice& output, const PortChoice& input,
                        const std::function<bool()>& stop, SearchTiming timing) {
    const SearchResult search =
        SearchForDevices(backend, PortsToSearch(lists.outputs.size(), output.index),
                         PortsToSearch(lists.inputs.size(), input.index), stop, timing);
    FoundPorts found;
    if (search.stopped) {
        found.interrupted = true;
        return found;
    }
    if (search.tq5s.size() == 1) {
        found.output = search.tq5s[0].output;
        found.input = search.tq5s[0].input;
        return found;
    }
    found.exitCode = kExitUsage;
    found.error =
        search.tq5s.empty() ? NoneAnswered(lists, search) : SeveralAnswered(lists, search);
    return found;
}

DefaultPorts DefaultPortsOf(const PortLists& lists, int instanceNumber,
                            const std::vector<AnsweringDevice>& found) {
    const DefaultPorts preferred{FindPreferredPort(lists.outputs, instanceNumber),
                                 FindPreferredPort(lists.inputs, instanceNumber)};
    if (preferred.output >= 0 && preferred.input >= 0) return preferred;
    const std::vector<AnsweringDevice> fitting =
        DevicesOn(found, preferred.output, preferred.input);
    if (fitting.size() == 1) return {fitting[0].output, fitting[0].input};
    return preferred;
}

PortMarkSet MarksOf(const PortLists& lists, int instanceNumber, const SearchResult& search,
                    const DefaultPorts& defaults, bool isOutput, std::size_t index) {
    const std::vector<std::string>& names = isOutput ? lists.outputs : lists.inputs;
    const auto at = static_cast<std::int32_t>(index);
    PortMarkSet marks;
    const auto preferred = PreferredPortNames(instanceNumber);
    marks.preferred =
        std::find(preferred.begin(), preferred.end(), names[index]) != preferred.end();
    for (const AnsweringDevice& device : search.tq5s) {
        if ((isOutput ? device.output : device.input) != at) continue;
        marks.tq5With.push_back(isOutput ? device.input : device.output);
    }
    marks.isDefault = (isOutput ? defaults.output : defaults.input) == at;
    return marks;
}

std::string PortMarks(const PortLists& lists, int instanceNumber, const SearchResult& search,
                      const DefaultPorts& defaults, bool isOutput, std::size_t index) {
    const PortMarkSet set = MarksOf(lists, instanceNumber, search, defaults, isOutput, index);
    std::vector<std::string> marks;
    if (set.preferred) marks.emplace_back("preferred");
    for (const std::int32_t other : set.tq5With) {
        marks.push_back((isOutput ? "TQ-5 with MIDI in " : "TQ-5 with MIDI out ") +
                        std::to_string(other));
    }
    if (set.isDefault) marks.emplace_back("default");
    if (marks.empty()) return {};
    std::string text = "  [";
    for (std::size_t i = 0; i < marks.size(); ++i) text += (i > 0 ? ", " : "") + marks[i];
    return text + "]";
}

std::string SearchSummary(const PortLists& lists, const SearchResult& search) {
    if (search.tq5s.empty()) return "No " + NoTq5(lists, search);
    std::string text = search.tq5s.size() == 1 ? std::string("A TQ-5 answered:")
                                               : Count(search.tq5s.size(), "TQ-5") + " answered:";
    for (const AnsweringDevice& device : search.tq5s) text += "\n  " + Pair(lists, device);
    return text + NotTq5s(lists, search);
}

}  // namespace tq5::app::cli
