#pragma once
// The support report the page offers after a failed update ("Save report"): the same keys as
// tq5-updater's (app/support_report.hpp), with the browser's user agent for the computer and
// the ports as the dialog's lists showed them.

#include <string>

#include "app/rk4_updator_dlg.hpp"
#include "engine/outcome.hpp"

namespace tq5::web {

// Gathers the facts (on the calling thread; the page's lists and the user agent come from the
// main thread) and writes the report.
std::string PageReport(app::CRk4UpdatorDlg& dialog, const engine::Outcome& outcome,
                       const engine::Progress& last);

}  // namespace tq5::web
