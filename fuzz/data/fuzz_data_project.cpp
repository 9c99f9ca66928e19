// Random bytes as a project file, loaded as the program loads one from its bytes: the text checks and
// conversion, the cut-off and checksum checks, the model. A refused file leaves the project as it was;
// a loaded one is applied to the record, a run is prepared and the channels are judged, all within
// the record's fields; the model's output reads back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "ProjectFile.h"
#include "ProjectToDev.h"
#include "RunControl.h"
#include "Suitability.h"

using namespace quarn::data;

namespace {

// What the model writes, it reads back unchanged.
void checkRoundTrip(const Project& p) {
  IniDocument out;
  projectToIni(p, out);
  const std::string written = out.serialize();
  IniDocument again;
  projectToIni(projectFromIni(IniDocument::parse(written)), again);
  if (again.serialize() != written) std::abort();
}

// Whether the document has a section the model reads. Without one, the model is the one of an empty
// file whatever else the input holds, and so is everything written from it.
bool readsAnySection(const IniDocument& ini) {
  for (std::size_t i = 0; i < ini.sectionCount(); ++i) {
    const std::string folded = foldName(ini.sectionName(i));
    if (folded.rfind("points_set_", 0) == 0 || folded.rfind("device_ch_", 0) == 0 ||
        folded == foldName(kParamsSection) || folded == foldName(kPointListSection) ||
        folded == foldName(kTemplateSection))
      return true;
  }
  return false;
}

const char* const kSentinel = "\x01 kept while a load is refused";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const Result<TextContent> text = textFromBytes(input, "fuzz.aip");
  if (!text) return 0;

  // A file with the checksum is whole only at the full size of a saved project, beyond what the
  // fuzzer makes; the checksum's reading is taken on its own.
  if (input.find("ProjectChecksum") != std::string_view::npos)
    (void)projectChecksum(IniDocument::parse(text->bytes));

  Project p;
  p.header.protocolNo = kSentinel;
  const bool acceptEdited = size & 2;
  const Result<LoadedProject> load = loadProjectText(text->bytes, "fuzz.aip", p, acceptEdited);
  if (!load) {
    // Refused: nothing of the file was taken, and a confirmation is asked only when it is needed.
    if (p.header.protocolNo != kSentinel || load.why().empty()) std::abort();
    if (load.error().fault() == Fault::Edited && acceptEdited) std::abort();
    return 0;
  }
  if (load->checksum == ProjectChecksum::Differs && !acceptEdited) std::abort();
  const IniDocument& ini = p.file;  // the document as parsed, kept by the model

  // One record for every input, cleared as a fresh one would be: a new 50 KB block per input would
  // cost more than the whole parse of a small file.
  static const std::unique_ptr<TDev> record = std::make_unique<TDev>();
  TDev* dev = record.get();
  std::memset(static_cast<void*>(dev), 0, sizeof *dev);
  dev->linked = size & 1;
  dev->calInfo.pLimitMax = 2500;
  dev->settings.averaging = static_cast<int32_t>(size % 300) - 10;
  applyProjectToDev(p, *dev, {"Quarn №1"});
  if (dev->refStat.window < 1 || dev->refStat.window > STAT_RING_SIZE) std::abort();
  for (const TDevChannel& ch : dev->devCh)
    if (ch.name[sizeof ch.name - 1] != 0 || ch.owner[sizeof ch.owner - 1] != 0) std::abort();
  prepareRun(*dev, p.pointSets[static_cast<std::size_t>(p.selectedSet)], false, false);
  for (int c = 0; c < 4; ++c) (void)channelSuitable(*dev, c);

  // The round trip writes and reads all 1000 point sections: one costs about as much as a few
  // hundred inputs, so it is taken by one input in 4096, chosen by the input's bytes (the same input
  // always takes it, so a crash reproduces). The model of an input without any section the model
  // reads (the empty file's model) takes it once.
  static bool emptyModelChecked = false;
  if (!readsAnySection(ini)) {
    if (emptyModelChecked) return 0;
    emptyModelChecked = true;
    checkRoundTrip(p);
    return 0;
  }
  if (std::hash<std::string_view>{}(input) % 4096 != 0) return 0;
  checkRoundTrip(p);
  return 0;
}
