// The calibrator catalogues: the sub-ranges of the reference sensors per calibrator model
// ("Models_Quarn.xml", "Models_Brenk.xml") and the accuracy of a reference sensor per accuracy class
// and sub-range ("Errors.xml"); and the table that derives a device's model code from its name and
// upper range limit.
#pragma once

#include <QString>
#include <array>
#include <cstdint>

struct TDev;

namespace arm {

inline constexpr int kSubRanges = 6;

struct TSensorLimits {
  std::array<float, kSubRanges> G{};  // gauge upper limits, kPa
  std::array<float, kSubRanges> A{};  // absolute upper limits, kPa
};

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

// Results of the loaders.
inline constexpr int kCatalogueOk = 0;
inline constexpr int kModelCatalogueUnreadable = -3;
inline constexpr int kErrorCatalogueUnreadable = -9;

// Where a catalogue is looked for: the working folder, then the program's folder. Returns the path
// found, or the bare name when neither has it.
QString cataloguePath(const QString& fileName, const QString& programDir);

// Fills `model` from the model catalogue `catalogueFile` for the model text (a later matching entry
// overwrites an earlier one) and `errors` from `errorFile`. Both records are cleared first. Returns
// kCatalogueOk, kModelCatalogueUnreadable or kErrorCatalogueUnreadable; `error` gets a text for the
// operator. A number that does not convert stops the reading of its catalogue with a conversion
// message: that catalogue's record stays zero (an error in "Errors.xml" keeps the model read before).
int loadModelCatalogue(const QString& catalogueFile, const QString& errorFile, const QString& modelText,
                       TModelRec& model, TErrorRec& errors, QString* error = nullptr);
int loadErrorCatalogue(const QString& errorFile, TErrorRec& errors, QString* error = nullptr);

// The model text the catalogue is searched for: the Quarn's model name; for the Brenk the model
// number divided by 10, with a leading "0" below 100.
QString catalogueModelText(const TDev& dev, bool brenk);

// The model code of a device under test from its name and upper limit (kPa); empty when no family
// of the table matches.
QString modelByType(const QString& deviceName, float upperLimitKPa);

}  // namespace arm
