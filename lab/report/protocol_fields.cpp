#include "protocol_fields.h"

#include <cstring>

namespace quarn::report {

namespace {

// The project's text of one placeholder control.
std::string controlText(const data::Project& p, const char* control) {
  const data::ProtocolHeader& h = p.header;
  const auto is = [control](const char* name) { return std::strcmp(control, name) == 0; };
  if (is("amp_CD_VRCOEFF")) return p.readiness.vrCoeff;
  if (is("amp_D1_SH_NUM")) return h.protocolNo;
  if (is("amp_CD_DATE")) return h.date;
  if (is("amp_CD_TEMP")) return h.temp;
  if (is("amp_CD_HUM")) return h.hum;
  if (is("amp_CD_PRES")) return h.pres;
  if (is("amp_CD_ORG")) return h.organisation;
  if (is("amp_CD_CRT_NUM")) return h.accreditationNo;
  if (is("amp_CD_VERIF_POS")) return h.verifierPosition;
  if (is("amp_CD_VERIF")) return h.verifier;
  if (is("amp_CD_CHEF_POS")) return h.chiefPosition;
  if (is("amp_CD_CHEF")) return h.chief;
  std::string address;
  for (std::size_t i = 0; i < h.address.size(); ++i) address += (i ? "\n" : "") + h.address[i];
  return address;  // amp_CD_ADDRESS, the only one left
}

}  // namespace

std::vector<std::pair<std::string, std::string>> protocolPlaceholders(const data::Project& project) {
  std::vector<std::pair<std::string, std::string>> out;
  out.reserve(kProtocolPlaceholderControls.size());
  for (const char* control : kProtocolPlaceholderControls)
    out.emplace_back(control, controlText(project, control));
  return out;
}

}  // namespace quarn::report
