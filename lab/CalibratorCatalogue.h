// The calibrator catalogues: the sub-ranges of the reference sensors per calibrator model
// ("Models_Quarn.xml", "Models_Brenk.xml") and the accuracy of a reference sensor per accuracy class
// and sub-range ("Errors.xml"); and the table that derives a device's model code from its name and
// upper range limit. The workstation and quarn-cli read the same files through these functions.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "Outcome.h"
#include "TDev.h"

namespace quarn::data {

inline constexpr int kSubRanges = 6;

struct TSensorLimits {
  std::array<float, kSubRanges> G{};  // gauge upper limits, kPa
  std::array<float, kSubRanges> A{};  // absolute upper limits, kPa
};

// One calibrator model as its catalogue describes it. sens[0] is module 1, sens[1] module 2.
struct TModelRec {
  int32_t VpCont = 0;
  std::array<TSensorLimits, 2> sens{};
  int32_t sensCount = 0;  // 2 when the second sensor has a first gauge or absolute limit
};

// Accuracy in percent: rows "A0", "A", "B", "C" (the accuracy codes 0..3), columns sub-ranges 1..6.
struct TErrorRec {
  std::array<std::array<float, kSubRanges>, 4> rows{};
};

inline constexpr const char* kQuarnCatalogue = "Models_Quarn.xml";
inline constexpr const char* kBrenkCatalogue = "Models_Brenk.xml";
inline constexpr const char* kErrorCatalogue = "Errors.xml";

// Catalogues above this size are refused unread: the real files are a few kilobytes.
inline constexpr std::size_t kMaxCatalogueBytes = 4u * 1024u * 1024u;

// Where a catalogue is looked for: the working folder, then the program's folder. Returns the path
// found, or the bare name when neither has it (reading it then says the file is missing).
std::string cataloguePath(const std::string& fileName, const std::string& programDir);

// The model catalogue's entry for `modelText` (UTF-8; a later matching entry replaces an earlier
// one). Fails, with the reason for the operator, when the file is missing, too large, not XML or
// holds a number that does not convert (nothing of such a catalogue is used), or when no entry has
// the model's name.
Result<TModelRec> readModelCatalogue(const std::string& path, std::string_view modelText);
// The error catalogue; a class or sub-range it lacks stays 0. Fails as readModelCatalogue does.
Result<TErrorRec> readErrorCatalogue(const std::string& path);
// Either catalogue from the bytes of its file (`fileName` only names it in a reason).
Result<TModelRec> parseModelCatalogue(std::string_view bytes, std::string_view modelText,
                                      const std::string& fileName);
Result<TErrorRec> parseErrorCatalogue(std::string_view bytes, const std::string& fileName);

// The model catalogue of the calibrator model the host drives: Models_Brenk.xml for the Brenk,
// Models_Quarn.xml otherwise.
const char* modelCatalogueName(bool brenk);

// The model text the catalogue is searched for (UTF-8): the Quarn's model name; for the Brenk the
// model number divided by 10, with a leading "0" below 100.
std::string catalogueModelText(const TDev& dev, bool brenk);

// The model code of a device under test from its name (UTF-8) and upper limit (kPa); empty when no
// family of the table matches.
std::string modelByType(std::string_view deviceName, float upperLimitKPa);

}  // namespace quarn::data
