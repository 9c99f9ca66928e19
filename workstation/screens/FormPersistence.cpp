#include "FormPersistence.h"

#include <QAbstractButton>
#include <QAction>
#include <QActionGroup>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>

#include "IniValues.h"

namespace arm {

namespace data = quarn::data;

namespace {

template <typename T>
T* exactly(QObject* o) {
  return o->metaObject() == &T::staticMetaObject ? static_cast<T*>(o) : nullptr;
}

int clampToInt(long long v) {
  return v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : static_cast<int>(v);
}

// A radio button can be unchecked by the program only with its exclusivity off for a moment: an
// exclusive button refuses to be the group's last one unchecked.
void setRadioChecked(QRadioButton* b, bool checked) {
  if (b->isChecked() == checked) return;
  QButtonGroup* group = b->group();
  const bool groupExclusive = group && group->exclusive();
  const bool autoExclusive = b->autoExclusive();
  if (!checked) {
    if (group) group->setExclusive(false);
    b->setAutoExclusive(false);
  }
  b->setChecked(checked);
  if (!checked) {
    b->setAutoExclusive(autoExclusive);
    if (group) group->setExclusive(groupExclusive);
  }
}

std::vector<std::string> memoLines(const QPlainTextEdit* memo) {
  std::vector<std::string> lines;
  QString text = memo->toPlainText();
  if (text.isEmpty()) return lines;
  // A text that ends with a line break has no further, empty line (as a memo counts its lines).
  if (text.endsWith(QLatin1Char('\n'))) text.chop(1);
  for (const QString& line : text.split(QLatin1Char('\n'))) lines.push_back(line.toStdString());
  return lines;
}

}  // namespace

bool FormPersistence::excluded(const QString& name) {
  return name == QLatin1String("amp_CD_DATE") || name == QLatin1String("Frame_Mode_2_1_HART1") ||
         name == QLatin1String("lv_Steps") || name == QLatin1String("ed_Quarn_SN");
}

int FormPersistence::component(data::IniDocument& ini, bool save, QObject* component) {
  if (!component || excluded(component->objectName())) return -1;
  // A copy: a handler run while loading may create or remove children.
  const QObjectList owned = component->children();
  for (QObject* child : owned) FormPersistence::component(ini, save, child);
  const QString name = component->objectName();
  if (!name.isEmpty() && !name.startsWith(QLatin1String("qt_")))
    control(ini, save, component, projectSection(component));
  return 0;
}

void FormPersistence::control(data::IniDocument& ini, bool save, QObject* o, const QString& sectionName) {
  const std::string section = sectionName.toStdString();
  const std::string key = o->objectName().toStdString();

  if (auto* edit = exactly<QLineEdit>(o)) {
    if (save) {
      data::writeTextUtf8(ini, section, key, edit->text().toStdString());
    } else {
      const std::string current = edit->text().toStdString();
      edit->setText(QString::fromStdString(data::readTextUtf8(ini, section, key, current)));
    }
  } else if (auto* spin = exactly<QSpinBox>(o)) {
    if (save)
      data::writeInteger(ini, section, key, spin->value());
    else
      spin->setValue(clampToInt(data::readInteger(ini, section, key, spin->value())));
  } else if (auto* combo = exactly<QComboBox>(o)) {
    if (save) {
      data::writeInteger(ini, section, key, combo->currentIndex());
    } else {
      const long long v = data::readInteger(ini, section, key, 0);
      const int index = v >= 0 && v < combo->count() ? static_cast<int>(v) : (combo->count() > 0 ? 0 : -1);
      combo->setCurrentIndex(index);
      Q_EMIT combo->activated(index);
    }
  } else if (auto* list = exactly<QListWidget>(o)) {
    if (save) {
      data::writeInteger(ini, section, key, list->currentRow());
    } else {
      const int row = clampToInt(data::readInteger(ini, section, key, list->currentRow()));
      list->setCurrentRow(row < 0 ? 0 : row);
    }
  } else if (auto* slider = exactly<QSlider>(o)) {
    if (save)
      data::writeInteger(ini, section, key, slider->value());
    else
      slider->setValue(clampToInt(data::readInteger(ini, section, key, slider->value())));
  } else if (auto* check = exactly<QCheckBox>(o)) {
    if (save) {
      data::writeInteger(ini, section, key, check->isChecked() ? 1 : 0);
    } else {
      const bool on = data::readInteger(ini, section, key, check->isChecked() ? 1 : 0) != 0;
      check->setChecked(on);
      Q_EMIT check->clicked(on);
    }
  } else if (auto* radio = exactly<QRadioButton>(o)) {
    if (save) {
      data::writeInteger(ini, section, key, radio->isChecked() ? 1 : 0);
      data::writeBool(ini, section, key, radio->isChecked());
    } else {
      const bool on = data::readInteger(ini, section, key, radio->isChecked() ? 1 : 0) != 0;
      setRadioChecked(radio, on);
      Q_EMIT radio->clicked(on);
      if (data::readBool(ini, section, key, radio->isChecked())) {
        setRadioChecked(radio, true);
        Q_EMIT radio->clicked(true);
      }
    }
  } else if (auto* tabs = exactly<QTabWidget>(o)) {
    if (o->objectName() == QLatin1String("Pages")) return;
    if (save) {
      data::writeInteger(ini, section, key, tabs->currentIndex());
    } else {
      const int page = clampToInt(data::readInteger(ini, section, key, tabs->currentIndex()));
      if (page == tabs->currentIndex())
        Q_EMIT tabs->currentChanged(page);
      else
        tabs->setCurrentIndex(page);  // runs currentChanged itself
    }
  } else if (auto* group = exactly<QButtonGroup>(o)) {
    const QList<QAbstractButton*> buttons = group->buttons();
    if (save) {
      data::writeInteger(ini, section, key, buttons.indexOf(group->checkedButton()));
    } else {
      const long long v = data::readInteger(ini, section, key, buttons.indexOf(group->checkedButton()));
      if (v >= 0 && v < buttons.size()) {
        QAbstractButton* b = buttons[static_cast<int>(v)];
        b->setChecked(true);
        Q_EMIT group->buttonClicked(b);
        Q_EMIT group->idClicked(group->id(b));
      } else if (QAbstractButton* b = group->checkedButton()) {
        const bool exclusive = group->exclusive();
        group->setExclusive(false);
        b->setChecked(false);
        group->setExclusive(exclusive);
      }
    }
  } else if (auto* memo = exactly<QPlainTextEdit>(o)) {
    if (save) {
      data::writeMemoUtf8(ini, section, key, memoLines(memo));
    } else if (const auto lines = data::readMemoUtf8(ini, section, key)) {
      QStringList text;
      for (const std::string& line : *lines) text << QString::fromStdString(line);
      memo->setPlainText(text.join(QLatin1Char('\n')));
    }
  } else if (auto* item = exactly<QAction>(o)) {
    // Only radio items (members of an exclusive group) are stored.
    const QActionGroup* g = item->actionGroup();
    if (!g || g->exclusionPolicy() == QActionGroup::ExclusionPolicy::None || !item->isCheckable()) return;
    if (save) {
      data::writeBool(ini, section, key, item->isChecked());
    } else {
      const bool on = data::readBool(ini, section, key, false);
      item->setChecked(on);
      if (item->isChecked()) Q_EMIT item->triggered(true);
    }
  }
}

namespace {
constexpr const char* kOwnerProperty = "projectOwner";
}  // namespace

void FormPersistence::markOwner(QWidget* widget) { widget->setProperty(kOwnerProperty, true); }

QString FormPersistence::projectSection(const QObject* control) {
  QString section = QStringLiteral("_");
  for (const QObject* o = control ? control->parent() : nullptr; o; o = o->parent())
    if (o->property(kOwnerProperty).toBool()) section.prepend(QStringLiteral("_") + o->objectName());
  return section;
}

}  // namespace arm
