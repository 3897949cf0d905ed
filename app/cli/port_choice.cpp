#include "app/cli/port_choice.hpp"

#include <algorithm>
#include <cctype>

#include "app/preferred_ports.hpp"
#include "app/printable_text.hpp"

namespace tq5::app::cli {
namespace {

constexpr const char* kSeePorts = " (`tq5-updater ports` lists them)";

bool IsIndex(const std::string& text) {
    return !text.empty() && text.size() <= 9 && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
    });
}

PortChoice Chosen(std::size_t index) { return PortChoice{static_cast<std::int32_t>(index), {}}; }

PortChoice Refused(std::string error) { return PortChoice{-1, std::move(error)}; }

// A name in double quotes, printable on a terminal.
std::string Quoted(const std::string& name) {
    std::string quoted(1, '"');
    quoted += PrintableText(name);
    quoted += '"';
    return quoted;
}

}  // namespace

PortChoice ChoosePort(const std::vector<std::string>& names, const std::string& wanted,
                      int instanceNumber, const std::string& kind, const std::string& option) {
    if (wanted.empty()) {
        const std::int32_t preferred = FindPreferredPort(names, instanceNumber);
        if (preferred >= 0) return PortChoice{preferred, {}};
        return PortChoice{-1, {}, true};
    }
    if (IsIndex(wanted)) {
        const auto index = std::stoul(wanted);
        if (index < names.size()) return Chosen(index);
        return Refused("there is no MIDI " + kind + " " + wanted + kSeePorts);
    }
    // A name is found as it is and as `tq5-updater ports` prints it (with escapes).
    std::vector<std::size_t> exact;
    std::vector<std::size_t> partial;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string printed = PrintableText(names[i]);
        if (names[i] == wanted || printed == wanted) exact.push_back(i);
        if (names[i].find(wanted) != std::string::npos ||
            printed.find(wanted) != std::string::npos) {
            partial.push_back(i);
        }
    }
    const std::vector<std::size_t>& matches = exact.empty() ? partial : exact;
    if (matches.size() == 1) return Chosen(matches[0]);
    const std::string quoted = Quoted(wanted);
    if (matches.empty()) {
        return Refused("no MIDI " + kind + " is named " + quoted + " or contains it" + kSeePorts);
    }
    std::string listed;
    for (const std::size_t i : matches) {
        listed += (listed.empty() ? "" : ", ") + std::to_string(i) + " " + Quoted(names[i]);
    }
    return Refused(quoted + " matches several MIDI " + kind + "s: " + listed +
                   "; give an index with " + option + kSeePorts);
}

}  // namespace tq5::app::cli
