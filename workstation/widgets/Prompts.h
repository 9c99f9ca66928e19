// Where the workstation asks the operator something or tells them a failure. Tests and unattended
// runs install answers here so that no window blocks; unset hooks show the real dialogs.
#pragma once

#include <QMessageBox>
#include <QString>
#include <cstdio>
#include <functional>

namespace arm {

struct Prompts {
  // An error message with an OK button (binding failures, file errors).
  static inline std::function<void(const QString& caption, const QString& text)> error;
  // The Yes / No / Cancel question about an unsaved project.
  static inline std::function<QMessageBox::StandardButton(const QString& text)> saveQuestion;
  // The message window shown and waited for: returns its modal result (1 after "Да", 2 after "Нет").
  static inline std::function<int(const QString& text, bool question, const QString& caption)> messageWindow;
  // File dialogs: return the chosen name, or an empty text for Cancel.
  static inline std::function<QString(const QString& title, bool save)> fileName;

  // Errors reported while unattended (see installUnattended).
  static inline int unattendedErrors = 0;
  // Whether installUnattended is in force: a failure told in a window is also reported through
  // `error`, so that it reaches stderr and the run's status.
  static inline bool unattended = false;

  static void reset() {
    error = nullptr;
    saveQuestion = nullptr;
    messageWindow = nullptr;
    fileName = nullptr;
    unattendedErrors = 0;
    unattended = false;
  }

  // For runs nobody watches (a screenshot, a timing run): errors and questions go to stderr instead
  // of a window, every question is answered "no" and file dialogs are cancelled. Errors are counted
  // so that the run can end with a failure status.
  static void installUnattended() {
    unattendedErrors = 0;
    unattended = true;
    error = [](const QString& caption, const QString& text) {
      ++unattendedErrors;
      std::fprintf(stderr, "%s: %s\n", qPrintable(caption), qPrintable(text));
    };
    saveQuestion = [](const QString& text) {
      std::fprintf(stderr, "%s -> no\n", qPrintable(text));
      return QMessageBox::No;
    };
    messageWindow = [](const QString& text, bool question, const QString& caption) {
      std::fprintf(stderr, "%s: %s%s\n", qPrintable(caption), qPrintable(text), question ? " -> no" : "");
      return 2;  // "Нет"
    };
    fileName = [](const QString&, bool) { return QString(); };
  }

  static void showError(const QString& caption, const QString& text) {
    if (error) return error(caption, text);
    QMessageBox::critical(nullptr, caption, text, QMessageBox::Ok);
  }
};

}  // namespace arm
