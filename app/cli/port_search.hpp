#pragma once
// What tq5-updater makes of a search for the TQ-5 (device_search.hpp): the ports a command
// uses when none is named and none carries a preferred name, its words when it finds none or
// several, and the marks `tq5-updater ports` puts beside the ports where a TQ-5 answered.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/cli/device_search.hpp"
#include "app/cli/port_choice.hpp"
#include "midi/driver.hpp"

namespace tq5::app::cli {

struct PortLists {
    std::vector<std::string> outputs;
    std::vector<std::string> inputs;
};

// The pair a command uses: found by asking, or why not (then `exitCode` is set and `error`
// says it, several lines; empty after an interrupted search).
struct FoundPorts {
    std::int32_t output = -1;
    std::int32_t input = -1;
    std::string error;
    int exitCode = 0;
    bool interrupted = false;
};

// Completes `output` and `input` (one of them, or both, to be searched for) by asking the
// ports of `backend`: the outputs of the search are those of the lists, or the chosen one.
FoundPorts FindTq5Ports(midi::MidiBackend& backend, const PortLists& lists,
                        const PortChoice& output, const PortChoice& input,
                        const std::function<bool()>& stop, SearchTiming timing = {});

// The ports a command would use without --out and --in (each -1 when none): the preferred
// ones, and where a list has none, the one TQ-5 of `found` that fits.
struct DefaultPorts {
    std::int32_t output = -1;
    std::int32_t input = -1;
};
DefaultPorts DefaultPortsOf(const PortLists& lists, int instanceNumber,
                            const std::vector<AnsweringDevice>& found);

// What `tq5-updater ports` marks beside entry `index` of a list (`isOutput`).
struct PortMarkSet {
    bool preferred = false;  // it carries a name the instance prefers
    std::vector<std::int32_t>
        tq5With;             // a TQ-5 answered through it and this port of the other list
    bool isDefault = false;  // a command would use it without --out and --in
};
PortMarkSet MarksOf(const PortLists& lists, int instanceNumber, const SearchResult& search,
                    const DefaultPorts& defaults, bool isOutput, std::size_t index);

// The same as text, e.g. "  [preferred, default]" or "  [TQ-5 with MIDI in 1, default]"; empty
// for none.
std::string PortMarks(const PortLists& lists, int instanceNumber, const SearchResult& search,
                      const DefaultPorts& defaults, bool isOutput, std::size_t index);

// The line after the port lists: which TQ-5s answered, or that none did.
std::string SearchSummary(const PortLists& lists, const SearchResult& search);

}  // namespace tq5::app::cli
