#include "UiHelpers.h"

#include <QAbstractSpinBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTranslator>
#include <algorithm>
#include <cmath>

#include "IniValues.h"

namespace arm {

namespace {
bool outsideShownRange(double value) { return std::isnan(value) || value > 1e27 || value < -1e27; }

// A small negative value rounds to "-0.000" (and -0 prints as "-0"); a zero has no sign.
QString withoutNegativeZero(QString text) {
  if (text.startsWith(QLatin1Char('-')) && std::all_of(text.cbegin() + 1, text.cend(), [](QChar c) {
        return c == QLatin1Char('0') || c == QLatin1Char('.');
      }))
    text.remove(0, 1);
  return text;
}
}  // namespace

QString formatValue(double value, int decimals) {
  if (outsideShownRange(value)) return QStringLiteral(" ");
  return withoutNegativeZero(QString::number(value, 'f', std::clamp(decimals, 0, 15)));
}

QString formatGeneral(double value) {
  if (outsideShownRange(value)) return QStringLiteral(" ");
  return withoutNegativeZero(QString::number(value, 'g', 5));
}

QString formatPlain(double value) {
  if (std::isnan(value)) return QStringLiteral("NAN");
  if (std::isinf(value)) return value > 0 ? QStringLiteral("INF") : QStringLiteral("-INF");
  return QString::number(value, 'g', 15);
}

double textToValue(const QString& text) { return quarn::data::scanNumber(text.toStdString()); }

double widgetValue(const QWidget* widget) {
  if (auto* edit = qobject_cast<const QLineEdit*>(widget)) return textToValue(edit->text());
  if (auto* label = qobject_cast<const QLabel*>(widget)) return textToValue(label->text());
  if (auto* spin = qobject_cast<const QAbstractSpinBox*>(widget)) return textToValue(spin->text());
  if (widget) {
    // A labelled edit: the first edit box inside the widget.
    if (auto* inner = widget->findChild<QLineEdit*>()) return textToValue(inner->text());
  }
  return 0;
}

bool isEditingControl(QChar c) { return c == QChar('\b') || c == QChar(0x7F); }

QChar filterNumericChar(QChar c) {
  const char16_t u = c.unicode();
  if (u >= '0' && u <= '9') return c;
  switch (u) {
    case '\b':
    case '-':
    case '.':
      return c;
    case ',':
    case '/':
    case u'Б':  // the comma and full-stop keys of the Russian layout
    case u'б':
    case u'Ю':
    case u'ю':
      return QChar('.');
    case 'E':
    case 'e':
    case u'У':  // the Cyrillic letter on the E key
    case u'у':
      return QChar('e');
    default:
      return QChar();
  }
}

void NumericKeyFilter::install(QLineEdit* edit, bool signToggle) {
  edit->installEventFilter(new NumericKeyFilter(signToggle, edit));
}

bool NumericKeyFilter::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return false;
  auto* key = static_cast<QKeyEvent*>(event);
  const QString text = key->text();
  // Keys without a character (arrows, Delete, Home, ...) and shortcuts are not typing.
  if (text.size() != 1 || (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) return false;
  const QChar typed = text.at(0);
  // Backspace and Delete (which Qt gives as the character 0x7F) edit as in any text field.
  if (isEditingControl(typed)) return false;
  if (typed.unicode() < 0x20) return false;
  auto* edit = qobject_cast<QLineEdit*>(watched);
  const QChar c = filterNumericChar(typed);
  if (c.isNull()) return true;
  if (signToggle_ && edit) {
    if (c == QChar('-')) {
      QString t = edit->text();
      if (t.startsWith('-'))
        t.remove(0, 1);
      else
        t.prepend('-');
      edit->setText(t);
      return true;
    }
    if (c == QChar('.') && edit->text().contains('.')) return true;
  }
  if (c == typed || !edit) return false;
  edit->insert(QString(c));
  return true;
}

bool installQtRussian(QObject* owner) {
  auto* translator = new QTranslator(owner);
  if (!translator->load(QStringLiteral("qtbase_ru"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return false;
  }
  return QCoreApplication::installTranslator(translator);
}

void enableTree(QWidget* widget, bool enabled) {
  if (!widget) return;
  if (widget->isEnabled() != enabled) widget->setEnabled(enabled);
  for (QWidget* child : widget->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    enableTree(child, enabled);
}

void clearScreen(QWidget* widget) {
  if (!widget) return;
  for (QLineEdit* edit : widget->findChildren<QLineEdit*>()) {
    // The line edit inside a combo box belongs to the combo box.
    if (!qobject_cast<QComboBox*>(edit->parentWidget())) edit->clear();
  }
  for (QPlainTextEdit* memo : widget->findChildren<QPlainTextEdit*>()) memo->clear();
  for (QComboBox* combo : widget->findChildren<QComboBox*>()) combo->setCurrentIndex(-1);
  QCoreApplication::processEvents();
}

void togglePressedLook(QWidget* widget) {
  QFrame* panel = nullptr;
  for (QWidget* w = widget; w && !panel; w = w->parentWidget()) {
    auto* frame = qobject_cast<QFrame*>(w);
    if (frame && frame->frameShape() != QFrame::NoFrame) panel = frame;
  }
  if (!panel) return;
  panel->setFrameShadow(panel->frameShadow() == QFrame::Sunken ? QFrame::Raised : QFrame::Sunken);
}

QString progressDots(int expectedRequests, int progress) {
  if (progress <= 0) return {};
  const int dots = std::min(expectedRequests, 20) - std::min(progress, 20);
  return dots > 0 ? QString(dots, QChar('.')) : QString();
}

QLabel* makeLabel(const QString& name, const QString& text, QWidget* parent, int growPoints, bool bold) {
  auto* l = new QLabel(text, parent);
  l->setObjectName(name);
  if (growPoints != 0 || bold) {
    QFont f = l->font();
    f.setPointSize(f.pointSize() + growPoints);
    f.setBold(bold);
    l->setFont(f);
  }
  return l;
}

}  // namespace arm
