#include "ProjectFile.h"

#include <sys/stat.h>

#include <array>
#include <cmath>
#include <cstdint>

#include "ChannelRules.h"
#include "IniValues.h"

namespace quarn::data {
namespace {

// Keys of the parameters screen's controls.
constexpr const char* kProtocolNo = "amp_D1_SH_NUM";
constexpr const char* kTemp = "amp_CD_TEMP";
constexpr const char* kHum = "amp_CD_HUM";
constexpr const char* kPres = "amp_CD_PRES";
constexpr const char* kIvtmSerial = "ed_IVTM_SN";
constexpr const char* kOrganisation = "amp_CD_ORG";
constexpr const char* kAccreditation = "amp_CD_CRT_NUM";
constexpr const char* kAddress = "amp_CD_ADDRESS";
constexpr const char* kAuxEquipment = "CD_ET_AUX_LST";
constexpr const char* kVerifierPos = "amp_CD_VERIF_POS";
constexpr const char* kVerifier = "amp_CD_VERIF";
constexpr const char* kChiefPos = "amp_CD_CHEF_POS";
constexpr const char* kChief = "amp_CD_CHEF";
constexpr const char* kKindKeys[3] = {"RadioButton1", "rb_IsPeriodic", "rb_IsCalib"};
constexpr const char* kDecimals = "cb_cDigits";
constexpr const char* kBrenkClass = "cb_Class_Brenk";
constexpr const char* kTemplateName = "edTemplateName";
constexpr const char* kDuplicate = "cbDoSetToAll";
constexpr const char* kHardMode = "cbHardMode";
constexpr const char* kBand = "ed_d_Rdy";
constexpr const char* kHoldTime = "ed_tRdy";
constexpr const char* kVrCoeff = "amp_CD_VRCOEFF";
constexpr const char* kRelayOn[2] = {"cbRelay_1", "cbRelay_2"};
constexpr const char* kRelayP[2] = {"edRelay1_P", "edRelay2_P"};
constexpr const char* kRelayHyst[2] = {"edRelay1_Hyst", "edRelay2_Hyst"};
constexpr const char* kRelaySpeed = "edRelay_speed";
constexpr const char* kSetKeys[kPointSetCount] = {"rb_1", "rb_2", "rb_3", "rb_4", "rb_5"};

constexpr int kDecimalsItems = 7;  // "0" .. "6"
constexpr int kBrenkClassItems = 3;

// A combo box: a missing key selects the first item, as does an index the list does not have.
int readComboIndex(const IniDocument& ini, const char* key, int items) {
  const long long v = readInteger(ini, kParamsSection, key, 0);
  return v >= 0 && v < items ? static_cast<int>(v) : 0;
}

// A group of radio buttons loaded one after the other: a button stored as checked checks itself and
// unchecks the others, one stored as unchecked only unchecks itself; a missing key keeps the state.
template <std::size_t N>
std::array<bool, N> readRadioGroup(const IniDocument& ini, const char* section, const char* const (&keys)[N],
                                   std::array<bool, N> state) {
  for (std::size_t i = 0; i < N; ++i) {
    const bool v = readBool(ini, section, keys[i], state[i]);
    if (v) state.fill(false);
    state[i] = v;
  }
  return state;
}

std::string readEdit(const IniDocument& ini, const char* key, const std::string& current) {
  return readTextUtf8(ini, kParamsSection, key, current);
}

float readF32(const IniDocument& ini, std::string_view section, const char* key, float def) {
  const double v = readFloat(ini, section, key, def);
  // A value beyond the single-precision range would become infinite in the record.
  return std::fabs(v) <= 3.4e38 ? static_cast<float>(v) : def;
}

int readInt32(const IniDocument& ini, const std::string& section, const char* key, int def) {
  const long long v = readInteger(ini, section, key, def);
  return v >= INT32_MIN && v <= INT32_MAX ? static_cast<int>(v) : def;
}

ChannelParams readChannel(const IniDocument& ini, int n) {
  const std::string s = channelSection(n);
  const ChannelParams d;
  // Without its section every key takes its default: the channel is the format's default one.
  if (!ini.hasSection(s)) return d;
  ChannelParams ch;
  ch.enabled = readBool(ini, s, "enabled", false);
  ch.name = readTextUtf8(ini, s, "name", d.name, kShortTextLimit);
  ch.model = readTextUtf8(ini, s, "model", d.model, kShortTextLimit);
  ch.sn = readTextUtf8(ini, s, "sn", d.sn, kShortTextLimit);
  ch.invNo = readTextUtf8(ini, s, "invNo", d.invNo, kShortTextLimit);
  ch.owner = readTextUtf8(ini, s, "owner", d.owner, kOwnerLimit);
  ch.Min = readF32(ini, s, "Min", d.Min);
  ch.Max = readF32(ini, s, "Max", d.Max);
  ch.unit = readTextUtf8(ini, s, "Unit", d.unit, kUnitLimit);
  ch.tDamp = readF32(ini, s, "tDamp", d.tDamp);
  ch.fnCode = readInt32(ini, s, "fnCode", d.fnCode);
  ch.errOk = readF32(ini, s, "errOk", d.errOk);
  ch.elTypeSignal = readInt32(ini, s, "elTypeSignal", d.elTypeSignal);
  ch.toKpaMul = readF32(ini, s, "toKpaMul", d.toKpaMul);
  ch.elMin = readF32(ini, s, "el_Min", d.elMin);
  ch.elMax = readF32(ini, s, "el_Max", d.elMax);
  ch.elUnit = readTextUtf8(ini, s, "el_Unit", d.elUnit, kUnitLimit);
  if (ch.enabled) normalizeChannel(ch);
  return ch;
}

void writeChannel(IniDocument& ini, int n, const ChannelParams& ch) {
  const std::string s = channelSection(n);
  writeBool(ini, s, "enabled", ch.enabled);
  writeTextUtf8(ini, s, "name", ch.name);
  writeTextUtf8(ini, s, "model", ch.model);
  writeTextUtf8(ini, s, "sn", ch.sn);
  writeTextUtf8(ini, s, "invNo", ch.invNo);
  writeTextUtf8(ini, s, "owner", ch.owner);
  writeFloat(ini, s, "Min", ch.Min);
  writeFloat(ini, s, "Max", ch.Max);
  writeTextUtf8(ini, s, "Unit", ch.unit);
  writeFloat(ini, s, "tDamp", ch.tDamp);
  writeInteger(ini, s, "fnCode", ch.fnCode);
  writeFloat(ini, s, "errOk", ch.errOk);
  writeInteger(ini, s, "elTypeSignal", ch.elTypeSignal);
  writeFloat(ini, s, "toKpaMul", ch.toKpaMul);
  writeFloat(ini, s, "el_Min", ch.elMin);
  writeFloat(ini, s, "el_Max", ch.elMax);
  writeTextUtf8(ini, s, "el_Unit", ch.elUnit);
}

// Reads a canonical decimal number (no sign, no leading zero) at the start of `s` and removes it.
std::optional<int> takeNumber(std::string_view& s, int hi) {
  std::size_t n = 0;
  int v = 0;
  while (n < s.size() && s[n] >= '0' && s[n] <= '9' && n < 4) v = v * 10 + (s[n++] - '0');
  if (n == 0 || (n > 1 && s[0] == '0') || v > hi) return std::nullopt;
  s.remove_prefix(n);
  return v;
}

// Removes an ASCII prefix given in lower case from `s`, letter case aside (the other letters that
// names fold are not ASCII, so they never match it).
bool takeFolded(std::string_view& s, std::string_view lowerPrefix) {
  if (s.size() < lowerPrefix.size()) return false;
  for (std::size_t i = 0; i < lowerPrefix.size(); ++i) {
    const char c = s[i] >= 'A' && s[i] <= 'Z' ? static_cast<char>(s[i] + 32) : s[i];
    if (c != lowerPrefix[i]) return false;
  }
  s.remove_prefix(lowerPrefix.size());
  return true;
}

// The set and point of a section that pointSection() names (letter case aside, as every lookup of a
// name ignores it); nothing for any other section.
std::optional<std::pair<int, int>> pointSectionIndex(std::string_view name) {
  if (!takeFolded(name, "points_set_")) return std::nullopt;
  const auto set = takeNumber(name, kPointSetCount - 1);
  if (!set || !takeFolded(name, "_point_")) return std::nullopt;
  const auto point = takeNumber(name, kPointsPerSet);
  if (!point || *point < 1 || !name.empty()) return std::nullopt;
  return std::make_pair(*set, *point);
}

// The keys each kind of section gets on every save.
constexpr const char* kChannelKeys[] = {"enabled",      "name",     "model",  "sn",     "invNo",  "owner",
                                        "Min",          "Max",      "Unit",   "tDamp",  "fnCode", "errOk",
                                        "elTypeSignal", "toKpaMul", "el_Min", "el_Max", "el_Unit"};
constexpr const char* kPointKeys[] = {"exist", "valuePrc", "timeSec"};
constexpr const char* kTemplateKeys[] = {"XmlTemplatePath", "XmlTemplateName"};

template <std::size_t N>
const char* firstMissingKey(const IniDocument& ini, std::string_view section, const char* const (&keys)[N]) {
  for (const char* key : keys)
    if (!ini.hasKey(section, key)) return key;
  return nullptr;
}

std::string sectionText(std::string_view name) { return "[" + std::string(name) + "]"; }

std::string missingKeyText(std::string_view section, const char* key) {
  return "в разделе " + sectionText(section) + " нет ключа " + key;
}

// The last section, when it is one the program writes field by field and lacks one of its keys.
std::optional<std::string> lastSectionIncomplete(const IniDocument& ini) {
  if (ini.sectionCount() == 0) return std::nullopt;
  const std::string_view last = ini.sectionName(ini.sectionCount() - 1);
  const std::string folded = foldName(last);
  const char* missing = nullptr;
  if (folded.rfind("device_ch_", 0) == 0)
    missing = firstMissingKey(ini, last, kChannelKeys);
  else if (folded.rfind("points_set_", 0) == 0)
    missing = firstMissingKey(ini, last, kPointKeys);
  else if (folded == "xmltemplate")
    missing = firstMissingKey(ini, last, kTemplateKeys);
  if (!missing) return std::nullopt;
  return "последний раздел " + sectionText(last) + " записан не полностью (нет ключа " + missing + ")";
}

// The keys a save writes into the parameters screen's section (the memos have as many keys as lines).
constexpr const char* kParamsKeys[] = {
    kProtocolNo,    kTemp,        kHum,          kPres,         kIvtmSerial,   kOrganisation,
    kAccreditation, kVerifierPos, kVerifier,     kChiefPos,     kChief,        kKindKeys[0],
    kKindKeys[1],   kKindKeys[2], kDecimals,     kBrenkClass,   kTemplateName, kDuplicate,
    kHardMode,      kBand,        kHoldTime,     kVrCoeff,      kRelayOn[0],   kRelayOn[1],
    kRelayP[0],     kRelayP[1],   kRelayHyst[0], kRelayHyst[1], kRelaySpeed};

// A save writes the screen's section and the four channel sections with every key. A file that holds
// either in full was written by a program (this one, an earlier version or the one it replaces), as
// is a file with the checksum; hand-made files list only what they need.
bool writtenByProgram(const IniDocument& ini) {
  if (ini.hasSection(kChecksumSection)) return true;
  if (ini.hasSection(kParamsSection) && !firstMissingKey(ini, kParamsSection, kParamsKeys)) return true;
  for (int n = 0; n < kChannelCount; ++n)
    if (firstMissingKey(ini, channelSection(n), kChannelKeys)) return false;
  return true;
}

// The first section or key that every save writes and the file lacks: the channels, the 1000 points
// in their order, the template. The point sections are found by a walk over the file's sections.
std::optional<std::string> missingWrittenSection(const IniDocument& ini) {
  for (int n = 0; n < kChannelCount; ++n) {
    const std::string s = channelSection(n);
    if (!ini.hasSection(s)) return "нет раздела " + sectionText(s);
    if (const char* key = firstMissingKey(ini, s, kChannelKeys)) return missingKeyText(s, key);
  }
  std::array<std::array<bool, kPointsPerSet>, kPointSetCount> seen{};
  for (std::size_t i = 0; i < ini.sectionCount(); ++i)
    if (const auto at = pointSectionIndex(ini.sectionName(i)))
      seen[static_cast<std::size_t>(at->first)][static_cast<std::size_t>(at->second - 1)] = true;
  for (int set = 0; set < kPointSetCount; ++set)
    for (int k = 1; k <= kPointsPerSet; ++k) {
      const std::string s = pointSection(set, k);
      if (!seen[static_cast<std::size_t>(set)][static_cast<std::size_t>(k - 1)])
        return "нет раздела " + sectionText(s);
      if (const char* key = firstMissingKey(ini, s, kPointKeys)) return missingKeyText(s, key);
    }
  if (!ini.hasSection(kTemplateSection)) return "нет раздела " + sectionText(kTemplateSection);
  if (const char* key = firstMissingKey(ini, kTemplateSection, kTemplateKeys))
    return missingKeyText(kTemplateSection, key);
  return std::nullopt;
}

// CRC-32 (the polynomial of zip and PNG, reflected, start and end inverted).
struct CrcTable {
  uint32_t t[256];
  constexpr CrcTable() : t() {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
  }
};
constexpr CrcTable kCrc;

std::string checksumText(std::string_view content) {
  uint32_t c = 0xFFFFFFFFu;
  for (unsigned char b : content) c = kCrc.t[(c ^ b) & 0xFF] ^ (c >> 8);
  c ^= 0xFFFFFFFFu;
  static const char* kHex = "0123456789ABCDEF";
  std::string out(8, '0');
  for (int i = 7; i >= 0; --i, c >>= 4) out[static_cast<std::size_t>(i)] = kHex[c & 0xF];
  return out;
}

bool isFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The name, or its ".xlsx" sibling for a ".xls" name, when that file exists in the folder.
std::optional<std::string> existingTemplate(const std::string& folder, const std::string& name) {
  if (isFile(folder + name)) return name;
  const std::string_view xls = ".xls";
  if (name.size() >= xls.size() && name.compare(name.size() - xls.size(), xls.size(), xls) == 0 &&
      isFile(folder + name + "x"))
    return name + "x";
  return std::nullopt;
}

std::string withSeparator(std::string folder) {
  if (!folder.empty() && folder.back() != '/' && folder.back() != '\\') folder.push_back('/');
  return folder;
}

}  // namespace

bool resolveReportTemplate(ReportTemplate& t, const std::string& programDir) {
  if (auto name = existingTemplate(withSeparator(t.folder), t.name)) {
    t.folder = withSeparator(t.folder);
    t.name = *name;
    return true;
  }
  t.folder = withSeparator(programDir) + "template_xml/";
  t.name = existingTemplate(t.folder, kDefaultTemplateName).value_or(kDefaultTemplateName);
  return false;
}

std::string effectiveProjectPath(const std::string& path) { return isFile(path) ? path : "default.aip"; }

std::string channelSection(int channel) { return "Device_ch_" + std::to_string(channel); }

std::string pointSection(int set, int point) {
  return "Points_set_" + std::to_string(set) + "_point_" + std::to_string(point);
}

std::vector<float> switchedOnPoints(const PointSet& set) {
  std::vector<float> out;
  for (const PointDef& p : set)
    if (p.exist) out.push_back(p.valuePrc);
  return out;
}

Project::Project() {
  const float standard[] = {0, 25, 50, 75, 100, 75, 50, 20, 0};
  for (std::size_t i = 0; i < std::size(standard); ++i) pointSets[0][i] = PointDef{true, standard[i], 0};
}

void normalizeChannel(ChannelParams& ch) {
  ch.name = cutUtf8(ch.name, kShortTextLimit);
  ch.model = cutUtf8(ch.model, kShortTextLimit);
  ch.sn = cutUtf8(ch.sn, kShortTextLimit);
  ch.invNo = cutUtf8(ch.invNo, kShortTextLimit);
  ch.owner = cutUtf8(ch.owner, kOwnerLimit);
  ch.unit = cutUtf8(ch.unit, kUnitLimit);
  if (const auto idx = unitIndex(ch.unit))
    ch.toKpaMul = kPressureUnits[*idx].toKpa;
  else if (!(std::isfinite(ch.toKpaMul) && ch.toKpaMul > 0))
    ch.toKpaMul = 1;
  if (ch.fnCode != 0 && ch.fnCode != 1) ch.fnCode = 0;
  if (ch.elTypeSignal < 0 || ch.elTypeSignal >= kSignalTypeCount) ch.elTypeSignal = kSignal4to20;
  const SignalLimits lim = signalLimits(ch.elTypeSignal);
  ch.elUnit = lim.unit;
  if (lim.fixed) {
    ch.elMin = lim.elMin;
    ch.elMax = lim.elMax;
  }
}

Project projectFromIni(IniDocument ini) {
  Project p;
  const char* S = kParamsSection;
  ProtocolHeader& h = p.header;
  h.protocolNo = readEdit(ini, kProtocolNo, h.protocolNo);
  h.temp = readEdit(ini, kTemp, h.temp);
  h.hum = readEdit(ini, kHum, h.hum);
  h.pres = readEdit(ini, kPres, h.pres);
  h.ivtmSerial = readEdit(ini, kIvtmSerial, h.ivtmSerial);
  h.organisation = readEdit(ini, kOrganisation, h.organisation);
  h.accreditationNo = readEdit(ini, kAccreditation, h.accreditationNo);
  if (auto lines = readMemoUtf8(ini, S, kAddress)) h.address = std::move(*lines);
  if (auto lines = readMemoUtf8(ini, S, kAuxEquipment)) h.auxEquipment = std::move(*lines);
  h.verifierPosition = readEdit(ini, kVerifierPos, h.verifierPosition);
  h.verifier = readEdit(ini, kVerifier, h.verifier);
  h.chiefPosition = readEdit(ini, kChiefPos, h.chiefPosition);
  h.chief = readEdit(ini, kChief, h.chief);
  const auto kind =
      readRadioGroup(ini, S, kKindKeys,
                     std::array<bool, 3>{h.kind == ProtocolKind::Primary, h.kind == ProtocolKind::Periodic,
                                         h.kind == ProtocolKind::Calibration});
  h.kind = kind[1] ? ProtocolKind::Periodic : kind[2] ? ProtocolKind::Calibration : ProtocolKind::Primary;
  h.resultDecimals = readComboIndex(ini, kDecimals, kDecimalsItems);
  h.brenkClass = readComboIndex(ini, kBrenkClass, kBrenkClassItems);
  p.duplicateToAll = readBool(ini, S, kDuplicate, p.duplicateToAll);

  ReadinessSettings& r = p.readiness;
  r.hardMode = readBool(ini, S, kHardMode, r.hardMode);
  r.bandPrc = readEdit(ini, kBand, r.bandPrc);
  r.holdTimeS = readEdit(ini, kHoldTime, r.holdTimeS);
  r.vrCoeff = readEdit(ini, kVrCoeff, r.vrCoeff);

  for (int i = 0; i < 2; ++i) {
    p.relay.enabled[i] = readBool(ini, S, kRelayOn[i], p.relay.enabled[i]);
    p.relay.setpointKpa[i] = readEdit(ini, kRelayP[i], p.relay.setpointKpa[i]);
    p.relay.hysteresisKpa[i] = readEdit(ini, kRelayHyst[i], p.relay.hysteresisKpa[i]);
  }
  p.relay.speed = readEdit(ini, kRelaySpeed, p.relay.speed);

  std::array<bool, kPointSetCount> sets{};
  sets[static_cast<std::size_t>(p.selectedSet)] = true;
  sets = readRadioGroup(ini, kPointListSection, kSetKeys, sets);
  for (int i = 0; i < kPointSetCount; ++i)
    if (sets[static_cast<std::size_t>(i)]) p.selectedSet = i;

  for (int n = 0; n < kChannelCount; ++n) p.channels[static_cast<std::size_t>(n)] = readChannel(ini, n);

  // A point whose section is absent is off at 0 % (the file's defaults, not the standard points of a
  // new project), so only the point sections the file holds are read: a lookup for each of the 1000
  // possible names would cost far more than the walk over the sections present.
  p.pointSets = {};
  std::array<std::array<bool, kPointsPerSet>, kPointSetCount> seen{};
  for (std::size_t i = 0; i < ini.sectionCount(); ++i) {
    const std::string_view name = ini.sectionName(i);
    const auto at = pointSectionIndex(name);
    if (!at) continue;
    const auto s = static_cast<std::size_t>(at->first);
    const auto k = static_cast<std::size_t>(at->second - 1);
    if (seen[s][k]) continue;  // a later section of the same name is never read
    seen[s][k] = true;
    PointDef& pt = p.pointSets[s][k];
    pt.exist = readBool(ini, name, "exist", false);
    pt.valuePrc = readF32(ini, name, "valuePrc", 0);
    pt.timeSec = readF32(ini, name, "timeSec", 0);
  }

  p.reportTemplate.folder = readTextUtf8(ini, kTemplateSection, "XmlTemplatePath", "");
  p.reportTemplate.name = readTextUtf8(ini, kTemplateSection, "XmlTemplateName", kDefaultTemplateName);
  p.file = std::move(ini);
  return p;
}

void projectToIni(const Project& p, IniDocument& ini) {
  const char* S = kParamsSection;
  const ProtocolHeader& h = p.header;
  writeTextUtf8(ini, S, kProtocolNo, h.protocolNo);
  writeTextUtf8(ini, S, kTemp, h.temp);
  writeTextUtf8(ini, S, kHum, h.hum);
  writeTextUtf8(ini, S, kPres, h.pres);
  writeTextUtf8(ini, S, kIvtmSerial, h.ivtmSerial);
  writeTextUtf8(ini, S, kOrganisation, h.organisation);
  writeTextUtf8(ini, S, kAccreditation, h.accreditationNo);
  writeMemoUtf8(ini, S, kAddress, h.address);
  writeMemoUtf8(ini, S, kAuxEquipment, h.auxEquipment);
  writeTextUtf8(ini, S, kVerifierPos, h.verifierPosition);
  writeTextUtf8(ini, S, kVerifier, h.verifier);
  writeTextUtf8(ini, S, kChiefPos, h.chiefPosition);
  writeTextUtf8(ini, S, kChief, h.chief);
  writeInteger(ini, S, kKindKeys[0], h.kind == ProtocolKind::Primary);
  writeInteger(ini, S, kKindKeys[1], h.kind == ProtocolKind::Periodic);
  writeInteger(ini, S, kKindKeys[2], h.kind == ProtocolKind::Calibration);
  writeInteger(ini, S, kDecimals, h.resultDecimals);
  writeInteger(ini, S, kBrenkClass, h.brenkClass);
  writeTextUtf8(ini, S, kTemplateName, p.reportTemplate.name);
  writeInteger(ini, S, kDuplicate, p.duplicateToAll);
  writeInteger(ini, S, kHardMode, p.readiness.hardMode);
  writeTextUtf8(ini, S, kBand, p.readiness.bandPrc);
  writeTextUtf8(ini, S, kHoldTime, p.readiness.holdTimeS);
  writeTextUtf8(ini, S, kVrCoeff, p.readiness.vrCoeff);
  for (int i = 0; i < 2; ++i) {
    writeInteger(ini, S, kRelayOn[i], p.relay.enabled[static_cast<std::size_t>(i)]);
    writeTextUtf8(ini, S, kRelayP[i], p.relay.setpointKpa[static_cast<std::size_t>(i)]);
    writeTextUtf8(ini, S, kRelayHyst[i], p.relay.hysteresisKpa[static_cast<std::size_t>(i)]);
  }
  writeTextUtf8(ini, S, kRelaySpeed, p.relay.speed);
  for (int i = 0; i < kPointSetCount; ++i)
    writeInteger(ini, kPointListSection, kSetKeys[i], p.selectedSet == i);

  for (int n = 0; n < kChannelCount; ++n) {
    ChannelParams ch = p.channels[static_cast<std::size_t>(n)];
    if (ch.enabled) normalizeChannel(ch);
    writeChannel(ini, n, ch);
  }
  for (int s = 0; s < kPointSetCount; ++s)
    for (int k = 1; k <= kPointsPerSet; ++k) {
      const std::string sec = pointSection(s, k);
      const PointDef& pt = p.pointSets[static_cast<std::size_t>(s)][static_cast<std::size_t>(k - 1)];
      writeBool(ini, sec, "exist", pt.exist);
      writeFloat(ini, sec, "valuePrc", pt.valuePrc);
      writeFloat(ini, sec, "timeSec", pt.timeSec);
    }
  writeTextUtf8(ini, kTemplateSection, "XmlTemplatePath", p.reportTemplate.folder);
  writeTextUtf8(ini, kTemplateSection, "XmlTemplateName", p.reportTemplate.name);
}

std::optional<std::string> cutOffReason(std::string_view bytes, const IniDocument& ini) {
  if (ini.endsInBrokenLine()) return std::string("последняя строка записана не полностью");
  const bool endsWithLineEnd = !bytes.empty() && (bytes.back() == '\n' || bytes.back() == '\r');
  if (!bytes.empty() && !endsWithLineEnd)
    if (auto why = lastSectionIncomplete(ini)) return why;
  if (writtenByProgram(ini)) return missingWrittenSection(ini);
  return std::nullopt;
}

ProjectChecksum projectChecksum(const IniDocument& ini) {
  if (!ini.hasSection(kChecksumSection)) return ProjectChecksum::Absent;
  const auto stored = ini.get(kChecksumSection, kChecksumKey);
  if (!stored) return ProjectChecksum::Differs;
  const std::string expected = checksumText(ini.serializeWithout(kChecksumSection));
  std::string_view v = *stored;
  while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
  while (!v.empty() && (v.back() == ' ' || v.back() == '\t')) v.remove_suffix(1);
  return foldName(v) == foldName(expected) ? ProjectChecksum::Matches : ProjectChecksum::Differs;
}

Result<LoadedProject> loadProjectText(std::string_view bytes, const std::string& name, Project& project,
                                      bool acceptEdited) {
  IniDocument ini = IniDocument::parse(bytes);
  if (auto why = cutOffReason(bytes, ini))
    return Outcome::failed("Файл проекта \"" + name + "\" обрезан: " + *why, Fault::Damaged);
  LoadedProject loaded;
  loaded.checksum = projectChecksum(ini);
  if (loaded.checksum == ProjectChecksum::Differs && !acceptEdited)
    return Outcome::failed("Файл проекта изменён вне программы: содержимое \"" + name +
                               "\" не совпадает с контрольной суммой, записанной при его сохранении",
                           Fault::Edited);
  if (loaded.checksum == ProjectChecksum::Absent)
    loaded.note = "Файл проекта \"" + name +
                  "\" без контрольной суммы (записан другой программой, прежней версией или вручную): "
                  "его изменения вне программы не обнаруживаются; сохранение запишет контрольную сумму";
  else if (loaded.checksum == ProjectChecksum::Differs)
    loaded.note = "Файл проекта \"" + name + "\" изменён вне программы и открыт по подтверждению";
  project = projectFromIni(std::move(ini));
  return loaded;
}

Result<LoadedProject> loadProject(const std::string& path, Project& project, bool acceptEdited) {
  const Result<TextContent> f = readTextFile(path);
  if (!f) return f.error();
  Result<LoadedProject> r = loadProjectText(f->bytes, path, project, acceptEdited);
  if (r) r->encoding = f->encoding;
  return r;
}

Outcome saveProject(const std::string& path, Project& project) {
  IniDocument ini = project.file;
  // The checksum covers everything else and goes last, made anew from what is written now.
  ini.removeSection(kChecksumSection);
  projectToIni(project, ini);
  ini.set(kChecksumSection, kChecksumKey, checksumText(ini.serialize()));
  Outcome written = writeFileAtomically(path, ini.serialize());
  if (written) project.file = std::move(ini);
  return written;
}

}  // namespace quarn::data
