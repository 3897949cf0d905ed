#include "app/cli/computer.hpp"

#include <sys/utsname.h>

#include <fstream>

namespace tq5::app::cli {
namespace {

// PRETTY_NAME of os-release(5), its quotes taken off.
std::string OsName() {
    for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
        std::ifstream file(path);
        std::string line;
        while (std::getline(file, line)) {
            const std::string key = "PRETTY_NAME=";
            if (line.rfind(key, 0) != 0) continue;
            std::string value = line.substr(key.size());
            if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                value.back() == value.front()) {
                value = value.substr(1, value.size() - 2);
            }
            return value;
        }
    }
    return {};
}

}  // namespace

std::vector<std::pair<std::string, std::string>> ComputerFacts() {
    std::vector<std::pair<std::string, std::string>> facts;
    const std::string os = OsName();
    if (!os.empty()) facts.emplace_back("os", os);
    utsname names{};
    if (::uname(&names) == 0) {
        facts.emplace_back("kernel", std::string(names.sysname) + " " + names.release + " " +
                                         names.version + " " + names.machine);
    }
    return facts;
}

}  // namespace tq5::app::cli
