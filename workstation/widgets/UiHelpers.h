// Small input and display helpers shared by the main window and every screen.
#pragma once

#include <QObject>
#include <QString>

class QWidget;
class QLineEdit;
class QLabel;

namespace arm {

// A value in fixed-point form with `decimals` digits after the point; a single blank for NaN and for
// values outside +-1e27.
QString formatValue(double value, int decimals);
// A value in general form with 5 significant digits (same blank rule).
QString formatGeneral(double value);
// Numbers in the window caption: general form with up to 15 significant digits.
QString formatPlain(double value);

// The number at the start of a text, as the C "%f" conversion reads it; 0 when nothing converts.
double textToValue(const QString& text);
// The text of an edit box, a label or a labelled edit, converted as above.
double widgetValue(const QWidget* widget);

// What the numeric key filter makes of a typed character: the character to insert, or a null
// character when the key is dropped. Digits, '-', '.' and backspace pass; ',', '/' and the Cyrillic
// letters on the Russian layout's comma and full-stop keys become '.'; 'E', 'e' and the Cyrillic
// letters on the same key become 'e'.
QChar filterNumericChar(QChar c);
// Backspace, and Delete as Qt gives its character (0x7F): keys that edit a number field as any text
// field, never dropped by a filter.
bool isEditingControl(QChar c);

// The numeric key filter for edit boxes. With the sign toggle, '-' adds or removes a leading minus
// sign instead of being typed, and a second '.' is dropped.
class NumericKeyFilter : public QObject {
 public:
  explicit NumericKeyFilter(bool signToggle, QObject* parent = nullptr)
      : QObject(parent), signToggle_(signToggle) {}
  // Installs a filter (owned by the edit box) on an edit box.
  static void install(QLineEdit* edit, bool signToggle = false);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool signToggle_;
};

// Enables or disables a control and every control inside it.
void enableTree(QWidget* widget, bool enabled);

// Installs Qt's own Russian translations (qtbase_ru from the Qt installation's translations folder),
// so that the standard buttons and dialogs speak Russian among the program's texts ("Да", "Нет",
// "Отмена"). False when they are not installed (Debian: qt6-translations-l10n); the texts stay
// English then.
bool installQtRussian(QObject* owner);
// Empties every edit box and unselects every combo box inside a component, then lets pending
// window messages run.
void clearScreen(QWidget* widget);
// Toggles the bevel of the nearest panel (the widget itself or the nearest frame around it) between
// raised and lowered.
void togglePressedLook(QWidget* widget);
// Dots showing the HART requests still to come: min(n, 20) - min(progress, 20) of them, none while
// progress is 0 or less.
QString progressDots(int expectedRequests, int progress);
// A label with its object name; `growPoints` enlarges its font by that many points.
QLabel* makeLabel(const QString& name, const QString& text, QWidget* parent, int growPoints = 0,
                  bool bold = false);

}  // namespace arm
