// The protocol page's placeholder controls: one list for every host. Each control "amp_X" fills the
// placeholder "&X" of the report template with the text the operator gave on the protocol page.
#pragma once

#include <array>
#include <string>
#include <utility>
#include <vector>

#include "ProjectModel.h"

namespace quarn::report {

// In the order the parameters screen owns them (the order the report gets its pairs in).
inline constexpr std::array<const char*, 13> kProtocolPlaceholderControls = {
    "amp_CD_VRCOEFF", "amp_D1_SH_NUM",   "amp_CD_DATE",    "amp_CD_TEMP",    "amp_CD_HUM",
    "amp_CD_PRES",    "amp_CD_ORG",      "amp_CD_CRT_NUM", "amp_CD_ADDRESS", "amp_CD_VERIF_POS",
    "amp_CD_VERIF",   "amp_CD_CHEF_POS", "amp_CD_CHEF"};

// The placeholder at the foot of every sheet that names the run's entry in the run history
// (ReportRequest::historyEntry). The report assembly fills it itself: it is no control of the page.
inline constexpr const char* kHistoryEntryPlaceholder = "&HIST_ENTRY";

// (control name, text) of every placeholder control, from a project's protocol page (UTF-8; the
// address's lines joined with line feeds): what the workstation's "в Excel", quarn-cli's --report and
// the run history's protocol fields all take.
std::vector<std::pair<std::string, std::string>> protocolPlaceholders(const data::Project& project);

}  // namespace quarn::report
