#include "CalibratorCatalogue.h"

#include <algorithm>
#include <cctype>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <pugixml.hpp>
#include <system_error>

#include "quarn/cp1251.h"

namespace quarn::data {

namespace {

namespace fs = std::filesystem;

std::string quoted(std::string_view s) { return "«" + std::string(s) + "»"; }

// The file's bytes, or why they cannot be had. Only regular files are opened, so a path that names
// a pipe or a device cannot hang the reader.
Result<std::string> readCatalogueFile(const std::string& path) {
  std::error_code ec;
  const fs::file_status st = fs::status(path, ec);
  if (ec || !fs::exists(st)) return Outcome::failed("не найден файл каталога " + path);
  if (!fs::is_regular_file(st)) return Outcome::failed("не удалось открыть файл " + path + ": это не файл");
  const std::uintmax_t size = fs::file_size(path, ec);
  if (ec) return Outcome::failed("не удалось открыть файл " + path);
  if (size > kMaxCatalogueBytes) return Outcome::failed("файл " + path + " слишком велик");
  std::ifstream in(path, std::ios::binary);
  if (!in) return Outcome::failed("не удалось открыть файл " + path);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (static_cast<std::uintmax_t>(in.gcount()) != size)
    return Outcome::failed("не удалось прочитать файл " + path);
  return bytes;
}

bool startsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

// A byte-order mark of UTF-16 or UTF-32: such a document holds zero bytes by nature.
bool wideDocument(std::string_view b) {
  return startsWith(b, std::string_view("\xFF\xFE", 2)) || startsWith(b, std::string_view("\xFE\xFF", 2)) ||
         startsWith(b, std::string_view("\0\0\xFE\xFF", 4));
}

// The catalogues of the equipment maker are Windows-1251 documents; the XML reader takes UTF-8, so
// such a document is converted and its declaration changed to match.
std::string toUtf8Document(std::string_view bytes) {
  if (!startsWith(bytes, "<?xml")) return std::string(bytes);
  const auto declEnd = bytes.find("?>");
  if (declEnd == std::string_view::npos) return std::string(bytes);
  std::string decl(bytes.substr(0, declEnd));
  std::transform(decl.begin(), decl.end(), decl.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (decl.find("1251") == std::string::npos) return std::string(bytes);
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>" +
         text::cp1251ToUtf8(std::string(bytes.substr(declEnd + 2)));
}

// The document, or why it is not one.
Outcome parseDocument(std::string_view bytes, const std::string& fileName, pugi::xml_document& doc) {
  if (bytes.size() > kMaxCatalogueBytes) return Outcome::failed("файл " + fileName + " слишком велик");
  if (!wideDocument(bytes) && bytes.find('\0') != std::string_view::npos)
    return Outcome::failed("файл " + fileName + " повреждён: в тексте нулевые байты");
  const std::string utf8 = toUtf8Document(bytes);
  const pugi::xml_parse_result parsed = doc.load_buffer(utf8.data(), utf8.size());
  if (!parsed) {
    const std::size_t at =
        std::min(static_cast<std::size_t>(std::max<std::ptrdiff_t>(parsed.offset, 0)), utf8.size());
    const long line = 1 + std::count(utf8.begin(), utf8.begin() + static_cast<std::ptrdiff_t>(at), '\n');
    return Outcome::failed("ошибка в файле " + fileName + ", строка " + std::to_string(line) + ": " +
                           parsed.description());
  }
  if (!doc.document_element())
    return Outcome::failed("ошибка в файле " + fileName + ": нет корневого элемента");
  return {};
}

// All the text inside an element, in document order (the text of nested elements included).
std::string elementText(const pugi::xml_node& e) {
  std::string out;
  for (pugi::xml_node n = e.first_child(); n; n = n.next_sibling()) {
    if (n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata)
      out += n.value();
    else if (n.type() == pugi::node_element)
      out += elementText(n);
  }
  return out;
}

std::string_view trimmed(std::string_view s) {
  const char* blanks = " \t\r\n\v\f";
  const auto a = s.find_first_not_of(blanks);
  if (a == std::string_view::npos) return {};
  return s.substr(a, s.find_last_not_of(blanks) - a + 1);
}

// A leading '+' is allowed by the catalogues' writers; the number parsers take none.
std::string_view withoutPlus(std::string_view s) {
  return s.size() > 1 && s[0] == '+' && s[1] != '-' && s[1] != '+' ? s.substr(1) : s;
}

// A finite single-precision number written with a point; nullopt otherwise ("25,5", "abc", "inf",
// "1e39").
std::optional<float> catalogueFloat(std::string_view text) {
  const std::string_view t = withoutPlus(trimmed(text));
  double v = 0;
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  if (t.empty() || ec != std::errc() || end != t.data() + t.size()) return std::nullopt;
  if (!std::isfinite(v) || std::fabs(v) > FLT_MAX) return std::nullopt;
  return static_cast<float>(v);
}

std::optional<int32_t> catalogueInt(std::string_view text) {
  const std::string_view t = withoutPlus(trimmed(text));
  int32_t v = 0;
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  if (t.empty() || ec != std::errc() || end != t.data() + t.size()) return std::nullopt;
  return v;
}

std::string notANumber(const pugi::xml_node& e) {
  return "\"" + std::string(trimmed(elementText(e))) + "\" в элементе " + e.name() + " не является числом";
}

// A number that does not convert stops the reading of its catalogue.
Outcome stoppedReading(const std::string& fileName, const std::string& conversionError) {
  return Outcome::failed(fileName + ": " + conversionError + "; чтение каталога остановлено");
}

// The number held by a child element into `out`; 0 when the element is missing. False, with the
// reason, for a text that does not convert.
bool childNumber(const pugi::xml_node& parent, const std::string& name, float& out,
                 std::string& conversionError) {
  out = 0;
  const pugi::xml_node e = parent.child(name.c_str());
  if (!e) return true;
  const std::optional<float> v = catalogueFloat(elementText(e));
  if (!v) {
    conversionError = notANumber(e);
    return false;
  }
  out = *v;
  return true;
}

bool readSensor(const pugi::xml_node& sensor, TSensorLimits& out, std::string& conversionError) {
  for (int i = 0; i < kSubRanges; ++i) {
    const std::string n = std::to_string(i + 1);
    if (!childNumber(sensor, "G_" + n, out.G[static_cast<std::size_t>(i)], conversionError)) return false;
    if (!childNumber(sensor, "A_" + n, out.A[static_cast<std::size_t>(i)], conversionError)) return false;
  }
  return true;
}

}  // namespace

std::string cataloguePath(const std::string& fileName, const std::string& programDir) {
  std::error_code ec;
  if (fs::exists(fileName, ec)) return fileName;
  if (programDir.empty()) return fileName;
  const std::string beside = (fs::path(programDir) / fileName).string();
  return fs::exists(beside, ec) ? beside : fileName;
}

Result<TModelRec> parseModelCatalogue(std::string_view bytes, std::string_view modelText,
                                      const std::string& fileName) {
  pugi::xml_document doc;
  if (Outcome parsed = parseDocument(bytes, fileName, doc); !parsed) return parsed;
  std::optional<TModelRec> found;
  for (pugi::xml_node m = doc.document_element().first_child(); m; m = m.next_sibling()) {
    if (m.type() != pugi::node_element || std::strcmp(m.name(), "Model") != 0) continue;
    const pugi::xml_node name = m.child("Model_name");
    if (!name || elementText(name) != modelText) continue;
    TModelRec rec;
    std::string conversionError;
    if (const pugi::xml_node vp = m.child("VpCont")) {
      const std::optional<int32_t> v = catalogueInt(elementText(vp));
      if (!v) return stoppedReading(fileName, notANumber(vp));
      rec.VpCont = *v;
    }
    for (int s = 0; s < 2; ++s) {
      const pugi::xml_node sensor = m.child(s == 0 ? "sens_1" : "sens_2");
      // Half a model would give wrong ranges: nothing of the catalogue is used.
      if (sensor && !readSensor(sensor, rec.sens[static_cast<std::size_t>(s)], conversionError))
        return stoppedReading(fileName, conversionError);
    }
    rec.sensCount = (rec.sens[1].G[0] != 0 || rec.sens[1].A[0] != 0) ? 2 : 1;
    found = rec;
  }
  if (!found) return Outcome::failed("в каталоге " + fileName + " нет модели " + quoted(modelText));
  return *found;
}

Result<TErrorRec> parseErrorCatalogue(std::string_view bytes, const std::string& fileName) {
  pugi::xml_document doc;
  if (Outcome parsed = parseDocument(bytes, fileName, doc); !parsed) return parsed;
  static const char* const kClasses[4] = {"A0", "A", "B", "C"};
  TErrorRec errors;
  const pugi::xml_node root = doc.document_element();
  std::string conversionError;
  for (std::size_t row = 0; row < 4; ++row) {
    const pugi::xml_node cls = root.child(kClasses[row]);
    if (!cls) continue;
    for (int i = 0; i < kSubRanges; ++i)
      if (!childNumber(cls, "diap_" + std::to_string(i + 1), errors.rows[row][static_cast<std::size_t>(i)],
                       conversionError))
        return stoppedReading(fileName, conversionError);
  }
  return errors;
}

Result<TModelRec> readModelCatalogue(const std::string& path, std::string_view modelText) {
  const Result<std::string> bytes = readCatalogueFile(path);
  if (!bytes) return bytes.error();
  return parseModelCatalogue(*bytes, modelText, path);
}

Result<TErrorRec> readErrorCatalogue(const std::string& path) {
  const Result<std::string> bytes = readCatalogueFile(path);
  if (!bytes) return bytes.error();
  return parseErrorCatalogue(*bytes, path);
}

const char* modelCatalogueName(bool brenk) { return brenk ? kBrenkCatalogue : kQuarnCatalogue; }

std::string catalogueModelText(const TDev& dev, bool brenk) {
  if (brenk) {
    const int32_t code = dev.calInfo.modelNo / 10;
    return code >= 100 ? std::to_string(code) : "0" + std::to_string(code);
  }
  return text::cp1251ToUtf8(
      std::string(dev.calInfo.modelName, strnlen(dev.calInfo.modelName, sizeof dev.calInfo.modelName)));
}

namespace {

struct ModelCode {
  float upperKPa;
  const char* code;
};
struct DeviceFamily {
  const char* nameContains;  // UTF-8
  std::initializer_list<ModelCode> codes;
};

// The transmitter families the workstation recognises, each with its model codes by upper limit.
// The first family whose text the device name contains is taken, so a family whose text contains
// another's ("КДИВ" contains "КДИ") comes before it.
const DeviceFamily kFamilies[] = {
    {"КДИВ", {{40, "410"}, {250, "420"}, {2400, "430"}}},
    {"КДД", {{0.25f, "020"}, {1.6f, "030"}, {10, "040"}, {40, "050"}, {250, "060"}, {1000, "070"}}},
    {"КДИ",
     {{6, "110"}, {40, "120"}, {250, "130"}, {1600, "140"}, {6000, "150"}, {25000, "160"}, {100000, "170"}}},
    {"КДА", {{40, "210"}, {250, "220"}, {1600, "230"}, {6000, "240"}}},
    {"КДВ", {{40, "310"}, {100, "320"}}},
};

}  // namespace

std::string modelByType(std::string_view deviceName, float upperLimitKPa) {
  for (const DeviceFamily& family : kFamilies) {
    if (deviceName.find(family.nameContains) == std::string_view::npos) continue;
    for (const ModelCode& entry : family.codes)
      if (upperLimitKPa <= entry.upperKPa) return entry.code;
  }
  return {};
}

}  // namespace quarn::data
