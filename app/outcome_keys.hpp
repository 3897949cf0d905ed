#pragma once
// The words that stand for the engine's data in what tq5-updater and the page hand to other
// programs and to the maker's support: the support report's values and the JSON lines. They
// are part of those formats: once published, a word is never changed, only added.

#include <string_view>

#include "engine/outcome.hpp"
#include "engine/state/exchange_log.hpp"

namespace tq5::app {

// "identify", "enter-update", "boot-version", "erase", "write", "verify", "finish",
// "versions".
std::string_view PhaseKey(engine::Phase phase);
// "none", "timed-out", "send-failed", "device-status", "not-in-update-mode", ...
std::string_view CauseKey(engine::Cause cause);
// "identity-request", "enter-update", "erase", "write-block", "read-memory", "finish", ...
std::string_view ExchangeKindKey(engine::ExchangeKind kind);
// "none", "send-failed", "status", "completion", "identity", "read-data", ...
std::string_view AnswerKey(engine::ExchangeAnswer answer);

}  // namespace tq5::app
