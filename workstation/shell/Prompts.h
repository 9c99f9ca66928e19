// Where the workstation asks the operator something or tells them a failure. Tests (and scripted
// runs) install answers here so that no window blocks; unset hooks show the real dialogs.
#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>

namespace arm {

struct Prompts {
  // An error message with an OK button (binding failures, file errors).
  static inline std::function<void(const QString& caption, const QString& text)> error;
  // The Yes / No / Cancel question about an unsaved project.
  static inline std::function<QMessageBox::StandardButton(const QString& text)> saveQuestion;
  // The message window shown and waited for: returns its modal result (1 after "Да", 2 after "Нет").
  static inline std::function<int(const QString& text, bool question)> messageWindow;
  // File dialogs: return the chosen name, or an empty text for Cancel.
  static inline std::function<QString(const QString& title, bool save)> fileName;

  static void reset() {
    error = nullptr;
    saveQuestion = nullptr;
    messageWindow = nullptr;
    fileName = nullptr;
  }

  static void showError(const QString& caption, const QString& text) {
    if (error) return error(caption, text);
    QMessageBox::critical(nullptr, caption, text, QMessageBox::Ok);
  }
};

}  // namespace arm
