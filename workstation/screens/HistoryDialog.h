// "История поверок" (File menu): the runs kept in the run history, newest first, filtered by device
// serial, part of the device name and a first day; the chosen run's points and verdicts (a relay
// check's contacts); the as-found / as-left pair of one of its devices side by side with the change of
// the reduced error per point; and the chosen run's protocol made again from the stored results
// through the report assembly. The history is opened for reading only: nothing here changes it.
// Every read checks the chain first (incrementally) and the dialog shows that check's result; the full
// check ("Полная проверка") is a button away.
//
// With a lab server configured the dialog reads either this workstation's history ("Этот АРМ") or the
// lab server's ("Сервер лаборатории"): every workstation's runs with a column and a filter of the
// workstation, a run, its pair and its protocol, read and checked by the same Qt-free code as
// quarn-cli's history commands with --server. The server is read on a thread of the pool, so the
// window answers meanwhile and says "загрузка…"; a server that cannot be reached is told in the
// dialog, and the workstation's own history stays a click away.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
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

  // Where the runs come from: this workstation's history file, or the lab server.
  enum class Source { Workstation, Lab };
  // The lab server (a libpq connection string; never shown with its password): the choice of source
  // appears, and the lab source when it was asked for before. Empty: none (the choice stays hidden).
  // Without libpq in the build, nothing changes.
  void setLabServer(const std::string& uri);
  void setSource(Source source);
  Source source() const { return source_; }
  // A read of the lab server under way (a list, a run, a pair or the check): "загрузка…" is shown.
  bool labBusy() const { return labPending_ > 0; }

  // Reads the list again with the filters as they are; keeps the chosen run when it is still listed.
  void reload();
  // Chooses a listed run (false when it is not listed); on the lab source, of `workstation` (empty:
  // the first listed with that number).
  bool selectRun(int64_t runId, const QString& workstation = {});
  int64_t selectedRun() const;
  // The workstation of the chosen run on the lab source (empty on the workstation's own).
  QString selectedWorkstation() const;
  // The run ids listed, in their order (and, on the lab source, their workstations).
  std::vector<int64_t> listedRuns() const { return listed_; }
  std::vector<std::string> listedWorkstations() const { return listedStations_; }

  // Makes the chosen run's protocol again into `outputPath` (asks for a file when empty); for the run
  // that ended a calibration, the calibration's protocol of both its runs and the trims between them.
  // Returns the workbook written, or an empty text with the reason in statusText().
  QString rebuildProtocol(QString outputPath = {});

  // What the dialog last had to say (a history that cannot be read, a protocol written or not).
  QString statusText() const;

  // The full check of the history (SQLite's integrity check, the guards, the whole chain, the
  // anchors); its result goes into checkLabel(). True when the history holds. On the lab source every
  // workstation's chain on the server (or the filtered one's) is checked in the background (true:
  // started; the result follows in checkLabel()).
  bool runFullCheck();
  QLabel* checkLabel() const { return check_; }
  QPushButton* checkButton() const { return fullCheck_; }

  // The controls, for the tests and the screenshot.
  QComboBox* sourceChoice() const { return sourceChoice_; }
  QComboBox* workstationFilter() const { return station_; }
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
  bool lab() const { return source_ == Source::Lab; }
  void reloadLab();
  void fillRuns(const std::vector<quarn::history::RunSummary>& runs, const std::vector<std::string>& stations,
                int64_t chosen, const std::string& chosenStation);
  void showRun();
  void fillRun();
  void showPair();
  void fillPair(const quarn::history::RunPair& pair);
  bool runFullLabCheck();
  // Runs `work` on a thread of the pool and hands its result to `done` in the dialog's thread (not at
  // all when the dialog is gone by then).
  template <class Work, class Done>
  void inBackground(Work work, Done done);
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
  std::vector<std::string> listedStations_;  // the lab source's workstation of each listed run
  std::unique_ptr<quarn::history::StoredRun> shown_;
  std::string shownStation_;  // the workstation of the run shown, on the lab source
  // On the lab source, the calibration the run shown ended (read with it), or why it could not be read.
  std::unique_ptr<quarn::history::StoredCalibration> shownCalibration_;
  QString calibrationProblem_;

  std::string labUri_;
  Source source_ = Source::Workstation;
  bool labAsked_ = false;                // the lab source was asked for, perhaps before a server was given
  std::set<std::string> knownStations_;  // the workstations the lab's lists named so far
  int labPending_ = 0;
  // Each kind of lab read counts its requests: a result that arrives after a newer request of its
  // kind is dropped.
  uint64_t listRequest_ = 0, runRequest_ = 0, pairRequest_ = 0, checkRequest_ = 0;

  QLabel* sourceLabel_ = nullptr;
  QComboBox* sourceChoice_ = nullptr;
  QLabel* stationLabel_ = nullptr;
  QComboBox* station_ = nullptr;

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
