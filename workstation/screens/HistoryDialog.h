// "История поверок" (File menu): the runs kept in the run history, newest first, filtered by device
// serial, part of the device name and a first day; the chosen run's points and verdicts (a relay
// check's contacts); the as-found / as-left pair of one of its devices side by side with the change of
// the reduced error per point; and the chosen run's protocol made again from the stored results
// through the report assembly. The history is opened for reading only: nothing here changes it.
// Every read checks the chain first (incrementally) and the dialog shows that check's result; the full
// check ("Полная проверка") is a button away.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

#include "HistoryRecord.h"

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
class QTabWidget;

namespace quarn::history {
class HistoryStore;
}

namespace arm {

class HistoryDialog : public QDialog {
  Q_OBJECT
 public:
  // `programDir`: where the protocol template ("template_xml") and the "reports" folder are.
  HistoryDialog(QString historyPath, QString programDir, QWidget* parent = nullptr);
  ~HistoryDialog() override;

  // Reads the list again with the filters as they are; keeps the chosen run when it is still listed.
  void reload();
  // Chooses a listed run (false when it is not listed).
  bool selectRun(int64_t runId);
  int64_t selectedRun() const;
  // The run ids listed, in their order.
  std::vector<int64_t> listedRuns() const { return listed_; }

  // Makes the chosen run's protocol again into `outputPath` (asks for a file when empty). Returns
  // the workbook written, or an empty text with the reason in statusText().
  QString rebuildProtocol(QString outputPath = {});

  // What the dialog last had to say (a history that cannot be read, a protocol written or not).
  QString statusText() const;

  // The full check of the history (SQLite's integrity check, the guards, the whole chain, the
  // anchors); its result goes into checkLabel(). True when the history holds.
  bool runFullCheck();
  QLabel* checkLabel() const { return check_; }
  QPushButton* checkButton() const { return fullCheck_; }

  // The controls, for the tests and the screenshot.
  QLineEdit* serialFilter() const { return serial_; }
  QLineEdit* deviceFilter() const { return device_; }
  QCheckBox* sinceFilter() const { return sinceOn_; }
  QDateEdit* sinceDate() const { return since_; }
  QTableWidget* runTable() const { return runs_; }
  QTableWidget* pointTable() const { return points_; }
  QLabel* verdictLabel() const { return verdicts_; }
  QComboBox* pairSerial() const { return pairSerial_; }
  QTableWidget* pairTable() const { return pair_; }
  QLabel* asFoundLabel() const { return asFound_; }
  QLabel* asLeftLabel() const { return asLeft_; }
  QTabWidget* tabs() const { return tabs_; }

 private:
  bool openStore();
  void showRun();
  void showPair();
  // Selects the pair of the device the "Зав. №" filter names, when the shown run has it; true when
  // that changed the selection (and so showed its pair).
  bool pairFollowsSerialFilter();
  void setStatus(const QString& text, bool problem);
  void setCheck(const QString& text, bool problem);
  void showReadCheck();

  QString path_;
  QString programDir_;
  std::unique_ptr<quarn::history::HistoryStore> store_;
  std::vector<int64_t> listed_;
  std::unique_ptr<quarn::history::StoredRun> shown_;

  QLineEdit* serial_ = nullptr;
  QLineEdit* device_ = nullptr;
  QCheckBox* sinceOn_ = nullptr;
  QDateEdit* since_ = nullptr;
  QTableWidget* runs_ = nullptr;
  QTabWidget* tabs_ = nullptr;
  QLabel* verdicts_ = nullptr;
  QTableWidget* points_ = nullptr;
  QComboBox* pairSerial_ = nullptr;
  QString pairShown_;  // the device of the pair shown last, as the list names it
  QLabel* asFound_ = nullptr;
  QLabel* asLeft_ = nullptr;
  QTableWidget* pair_ = nullptr;
  QPushButton* protocol_ = nullptr;
  QLabel* status_ = nullptr;
  QLabel* check_ = nullptr;
  QPushButton* fullCheck_ = nullptr;
};

}  // namespace arm
