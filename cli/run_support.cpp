#include "run_support.h"

#include <memory>

#include "ParamsCheck.h"
#include "ProjectFile.h"
#include "ProjectToDev.h"
#include "RunControl.h"

namespace cli {

namespace data = quarn::data;
namespace history = quarn::history;

data::Project loadRunProject(const std::string& path, bool acceptEdited) {
  data::Project project;
  const data::Result<data::LoadedProject> load = data::loadProject(path, project, acceptEdited);
  if (!load && load.error().fault() == data::Fault::Edited)
    throw Failure{kFailure, load.why() + " (--accept-edited, если он изменён намеренно)"};
  valueOrFail(load);
  if (!load->note.empty()) std::fprintf(stderr, "quarn-cli: %s\n", load->note.c_str());
  return project;
}

void refuseInvalidParameters(const data::Project& project, bool relayMode) {
  auto scratch = std::make_unique<TDev>();
  *scratch = TDev{};
  const data::ParamsCheck check = data::applyProjectToDev(project, *scratch);
  const data::StartPermission permission = data::startPermission(*scratch, check.valid, relayMode);
  if (!check.valid) throw Failure{kFailure, check.message.empty() ? permission.hint : check.message};
  if (!permission.allowed)
    throw Failure{kFailure, permission.hint.empty() ? "no relay selected for the check" : permission.hint};
  if (data::switchedOnPoints(project.pointSets[static_cast<size_t>(project.selectedSet)]).empty())
    throw Failure{kFailure, "Нет точек поверки!"};
}

history::HostContext hostContext(int64_t startedAtMs) {
  history::HostContext host;
  host.workstation = history::defaultWorkstationName();
  host.startedAtMs = startedAtMs;
  host.finishedAtMs = history::nowUtcMs();
  host.utcOffsetMin = history::utcOffsetMinutes(startedAtMs);
  return host;
}

}  // namespace cli
