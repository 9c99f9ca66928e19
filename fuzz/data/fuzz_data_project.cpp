// Random bytes as a project file: loading never fails, and applying and saving what was loaded stays
// within the record's fields and reads back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "ProjectFile.h"
#include "ProjectToDev.h"
#include "RunControl.h"
#include "Suitability.h"

using namespace quarn::data;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  FileEncoding enc;
  const IniDocument ini = IniDocument::parse(toCp1251(input, enc));
  const Project p = projectFromIni(ini);

  auto dev = std::make_unique<TDev>();
  dev->linked = size & 1;
  dev->calInfo.pLimitMax = 2500;
  dev->settings.averaging = static_cast<int32_t>(size % 300) - 10;
  applyProjectToDev(p, *dev, {"Quarn №1"});
  if (dev->refStat.window < 1 || dev->refStat.window > STAT_RING_SIZE) std::abort();
  for (const TDevChannel& ch : dev->devCh)
    if (ch.name[sizeof ch.name - 1] != 0 || ch.owner[sizeof ch.owner - 1] != 0) std::abort();
  prepareRun(*dev, p.pointSets[static_cast<std::size_t>(p.selectedSet)], false, false);
  for (int c = 0; c < 4; ++c) (void)channelSuitable(*dev, c);

  // What the model writes, it reads back unchanged. Writing all 1000 point sections is the costly part
  // of a run, so only one input length in 32 takes this path.
  if (size % 32 != 0) return 0;
  IniDocument out;
  projectToIni(p, out);
  const std::string written = out.serialize();
  IniDocument again;
  projectToIni(projectFromIni(IniDocument::parse(written)), again);
  if (again.serialize() != written) std::abort();
  return 0;
}
