#pragma once
// What the support report says about the computer tq5-updater runs on: the operating system
// (/etc/os-release) and the kernel (uname).

#include <string>
#include <utility>
#include <vector>

namespace tq5::app::cli {

// ("os", "Debian GNU/Linux 12 (bookworm)"), ("kernel", "Linux 6.1.0-18-amd64 #1 SMP ...
// x86_64"); an entry whose source can't be read is left out.
std::vector<std::pair<std::string, std::string>> ComputerFacts();

}  // namespace tq5::app::cli
