#include "ModelCatalog.h"

#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QFileInfo>
#include <cstring>

#include "TDev.h"
#include "quarn/cp1251.h"

namespace arm {

namespace {

// Upper bound on a catalogue's size: the real files are a few kilobytes.
constexpr qint64 kMaxCatalogueBytes = 4 * 1024 * 1024;

// The catalogues of the equipment maker are Windows-1251 documents; the XML reader takes UTF-8, so
// such a document is converted and its declaration changed to match.
QByteArray toUtf8Document(const QByteArray& bytes) {
  const qsizetype declEnd = bytes.startsWith("<?xml") ? bytes.indexOf("?>") : -1;
  if (declEnd < 0) return bytes;
  const QByteArray decl = bytes.left(declEnd).toLower();
  if (!decl.contains("1251")) return bytes;
  const std::string utf8 = quarn::text::cp1251ToUtf8(
      std::string(bytes.constData() + declEnd + 2, static_cast<size_t>(bytes.size() - declEnd - 2)));
  return QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>") + QByteArray::fromStdString(utf8);
}

bool loadDocument(const QString& path, QDomDocument& doc, QString& why) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    why = QStringLiteral("не удалось открыть файл %1").arg(path);
    return false;
  }
  if (file.size() > kMaxCatalogueBytes) {
    why = QStringLiteral("файл %1 слишком велик").arg(path);
    return false;
  }
  QString message;
  int line = 0;
  int column = 0;
  if (!doc.setContent(toUtf8Document(file.readAll()), &message, &line, &column)) {
    why = QStringLiteral("ошибка в файле %1, строка %2: %3").arg(path).arg(line).arg(message);
    return false;
  }
  return true;
}

// The number held by a child element into `out`; 0 when the element is missing. A text that does
// not convert stops the reading: false, with the reason in `conversionError`.
bool childNumber(const QDomElement& parent, const QString& name, float& out, QString& conversionError) {
  out = 0;
  const QDomElement e = parent.firstChildElement(name);
  if (e.isNull()) return true;
  bool ok = false;
  const float v = e.text().trimmed().toFloat(&ok);
  if (!ok) {
    conversionError = QStringLiteral("\"%1\" в элементе %2 не является числом").arg(e.text().trimmed(), name);
    return false;
  }
  out = v;
  return true;
}

bool readSensor(const QDomElement& sensor, TSensorLimits& out, QString& conversionError) {
  for (int i = 0; i < kSubRanges; ++i) {
    if (!childNumber(sensor, QStringLiteral("G_%1").arg(i + 1), out.G[i], conversionError)) return false;
    if (!childNumber(sensor, QStringLiteral("A_%1").arg(i + 1), out.A[i], conversionError)) return false;
  }
  return true;
}

QString stoppedReading(const QString& file, const QString& conversionError) {
  return file + QStringLiteral(": ") + conversionError + QStringLiteral("; чтение каталога остановлено");
}

}  // namespace

QString cataloguePath(const QString& fileName, const QString& programDir) {
  if (QFileInfo::exists(fileName)) return fileName;
  const QString beside = QDir(programDir).filePath(fileName);
  if (!programDir.isEmpty() && QFileInfo::exists(beside)) return beside;
  return fileName;
}

int loadErrorCatalogue(const QString& errorFile, TErrorRec& errors, QString* error) {
  errors = TErrorRec{};
  QDomDocument doc;
  QString why;
  if (!loadDocument(errorFile, doc, why)) {
    if (error) *error = why;
    return kErrorCatalogueUnreadable;
  }
  static const char* const kClasses[4] = {"A0", "A", "B", "C"};
  const QDomElement root = doc.documentElement();
  QString conversionError;
  for (int row = 0; row < 4; ++row) {
    const QDomElement cls = root.firstChildElement(QString::fromLatin1(kClasses[row]));
    if (cls.isNull()) continue;
    for (int i = 0; i < kSubRanges; ++i) {
      if (!childNumber(cls, QStringLiteral("diap_%1").arg(i + 1), errors.rows[row][i], conversionError)) {
        errors = TErrorRec{};
        if (error) *error = stoppedReading(errorFile, conversionError);
        return kErrorCatalogueUnreadable;
      }
    }
  }
  if (error) error->clear();
  return kCatalogueOk;
}

int loadModelCatalogue(const QString& catalogueFile, const QString& errorFile, const QString& modelText,
                       TModelRec& model, TErrorRec& errors, QString* error) {
  model = TModelRec{};
  errors = TErrorRec{};
  QDomDocument doc;
  QString why;
  if (!loadDocument(catalogueFile, doc, why)) {
    if (error) *error = why;
    return kModelCatalogueUnreadable;
  }
  QString conversionError;
  const QDomElement root = doc.documentElement();
  for (QDomElement m = root.firstChildElement(); !m.isNull(); m = m.nextSiblingElement()) {
    if (m.tagName() != QLatin1String("Model")) continue;
    const QDomElement name = m.firstChildElement(QStringLiteral("Model_name"));
    if (name.isNull() || name.text() != modelText) continue;
    TModelRec rec;
    bool read = true;
    const QDomElement vp = m.firstChildElement(QStringLiteral("VpCont"));
    if (!vp.isNull()) {
      rec.VpCont = vp.text().trimmed().toInt(&read);
      if (!read)
        conversionError =
            QStringLiteral("\"%1\" в элементе VpCont не является числом").arg(vp.text().trimmed());
    }
    for (int s = 0; s < 2 && read; ++s) {
      const QDomElement sensor = m.firstChildElement(QStringLiteral("sens_%1").arg(s + 1));
      if (!sensor.isNull()) read = readSensor(sensor, rec.sens[s], conversionError);
    }
    if (!read) {
      // Half a model would give wrong ranges: the tables stay empty, as for a missing catalogue.
      model = TModelRec{};
      if (error) *error = stoppedReading(catalogueFile, conversionError);
      return kModelCatalogueUnreadable;
    }
    rec.sensCount = (rec.sens[1].G[0] != 0 || rec.sens[1].A[0] != 0) ? 2 : 1;
    model = rec;
  }
  QString errorsWhy;
  const int rc = loadErrorCatalogue(errorFile, errors, &errorsWhy);
  if (error) *error = errorsWhy;
  return rc;
}

QString catalogueModelText(const TDev& dev, bool brenk) {
  if (brenk) {
    const int32_t modelNo = dev.calInfo.modelNo;
    const int32_t code = modelNo / 10;
    return code >= 100 ? QString::number(code) : QStringLiteral("0%1").arg(code);
  }
  char name[sizeof dev.calInfo.modelName + 1] = {};
  std::memcpy(name, dev.calInfo.modelName, sizeof dev.calInfo.modelName);
  return QString::fromStdString(quarn::text::cp1251ToUtf8(name));
}

namespace {

struct ModelCode {
  float upperKPa;
  const char* code;
};
struct DeviceFamily {
  const char* nameContains;
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

QString modelByType(const QString& deviceName, float upperLimitKPa) {
  for (const DeviceFamily& family : kFamilies) {
    if (!deviceName.contains(QString::fromUtf8(family.nameContains))) continue;
    for (const ModelCode& entry : family.codes)
      if (upperLimitKPa <= entry.upperKPa) return QString::fromLatin1(entry.code);
  }
  return {};
}

}  // namespace arm
