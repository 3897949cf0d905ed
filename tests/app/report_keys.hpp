#pragma once
// Reads a support report as a support tool would: its "key: value" lines, and the
// "name=value" fields of a per-step or per-exchange line.

#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>

namespace tq5::test {

using Keys = std::map<std::string, std::string>;

inline std::string ReadText(const std::string& path) {
    std::ifstream file(path);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

inline Keys ReportKeys(const std::string& text) {
    Keys keys;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const std::size_t colon = line.find(": ");
        if (line.empty() || line[0] == '#' || colon == std::string::npos) continue;
        keys[line.substr(0, colon)] = line.substr(colon + 2);
    }
    return keys;
}

inline Keys Fields(const std::string& value) {
    Keys fields;
    std::istringstream words(value);
    std::string word;
    while (words >> word) {
        const std::size_t equals = word.find('=');
        if (equals != std::string::npos) fields[word.substr(0, equals)] = word.substr(equals + 1);
    }
    return fields;
}

}  // namespace tq5::test
