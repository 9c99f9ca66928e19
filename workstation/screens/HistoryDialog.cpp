#include "HistoryDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateEdit>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSplitter>
#include <QTabWidget>
#include <QTableWidget>
#include <QThreadPool>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>

#ifdef QUARN_HISTORY_SERVER
#include "HistoryServer.h"
#endif
#include "HistoryStore.h"
#include "ProjectFile.h"
#include "Prompts.h"
#include "ProtocolFooter.h"
#include "RunBuilder.h"
#include "TDev.h"
#include "calibration_report.h"
#include "make_report.h"
#include "report_exchange.h"

namespace arm {

namespace history = quarn::history;

namespace {

QString text(const std::string& utf8) { return QString::fromStdString(utf8); }

QString kindText(history::RunKind kind) {
  switch (kind) {
    case history::RunKind::Verification:
      return QStringLiteral("поверка");
    case history::RunKind::Calibration:
      return QStringLiteral("калибровка");
    case history::RunKind::RelayCheck:
      return QStringLiteral("проверка реле");
  }
  return {};
}

QString tagText(history::RunTag tag) {
  return tag == history::RunTag::AsLeft ? QStringLiteral("после настройки") : QStringLiteral("до настройки");
}

QString verdictText(history::Verdict verdict) {
  switch (verdict) {
    case history::Verdict::Suitable:
      return QStringLiteral("годен");
    case history::Verdict::Unsuitable:
      return QStringLiteral("не годен");
    case history::Verdict::None:
      break;
  }
  return QStringLiteral("—");
}

// The moment as the workstation's clock showed it when the run was made.
QString timeText(int64_t msUtc, int utcOffsetMin) {
  return QDateTime::fromMSecsSinceEpoch(msUtc, Qt::OffsetFromUTC, utcOffsetMin * 60)
      .toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
}

// A stored number with `decimals` digits; a missing one (NaN) is a dash. A value that rounds to zero
// is "0.000", never "-0.000"; `sign` writes "+" before a positive one.
QString number(float v, int decimals, bool sign = false) {
  if (!std::isfinite(v)) return QStringLiteral("—");
  QString t = QString::number(static_cast<double>(v), 'f', decimals);
  const bool zero =
      t.count(QLatin1Char('0')) + t.count(QLatin1Char('.')) + t.count(QLatin1Char('-')) == t.size();
  if (zero && t.startsWith(QLatin1Char('-'))) t.remove(0, 1);
  if (sign && !zero && v > 0) t.prepend(QLatin1Char('+'));
  return t;
}

QTableWidget* makeTable(const QString& name, const QStringList& headers, QWidget* parent) {
  auto* t = new QTableWidget(0, static_cast<int>(headers.size()), parent);
  t->setObjectName(name);
  t->setHorizontalHeaderLabels(headers);
  t->setEditTriggers(QAbstractItemView::NoEditTriggers);
  t->setSelectionBehavior(QAbstractItemView::SelectRows);
  t->setSelectionMode(QAbstractItemView::SingleSelection);
  t->verticalHeader()->hide();
  t->horizontalHeader()->setStretchLastSection(true);
  return t;
}

void setRow(QTableWidget* t, int row, const QStringList& cells) {
  for (int c = 0; c < cells.size(); ++c) {
    auto* item = new QTableWidgetItem(cells[c]);
    // Numbers (and a missing one) to the right, texts to the left.
    const QChar first = cells[c].isEmpty() ? QChar() : cells[c].front();
    const bool numeric =
        first.isDigit() || first == QLatin1Char('-') || first == QLatin1Char('+') || first == QChar(0x2014);
    item->setTextAlignment((numeric ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    t->setItem(row, c, item);
  }
}

QString deviceText(const history::DeviceResult& d) {
  return QStringLiteral("%1 № %2").arg(text(d.name), text(d.serial));
}

// "№ 12 от 10.12.2026 09:15:03, поверка" and the device's verdict in that run.
QString pairSideText(const std::optional<history::StoredRun>& run, const std::string& serial) {
  if (!run) return QStringLiteral("нет запуска");
  const history::RunRecord& r = run->record;
  QString verdict = QStringLiteral("—");
  for (const history::DeviceResult& d : r.devices)
    if (d.serial == serial) verdict = verdictText(d.verdict);
  return QStringLiteral("запуск %1 от %2, %3: %4")
      .arg(run->runId)
      .arg(timeText(r.startedAtMs, r.utcOffsetMin), kindText(r.kind), verdict);
}

const QStringList& runHeaders() {
  static const QStringList headers{
      QStringLiteral("Запуск"),         QStringLiteral("Начало"),     QStringLiteral("Вид"),
      QStringLiteral("Состояние"),      QStringLiteral("Калибратор"), QStringLiteral("Заключение"),
      QStringLiteral("Приборы, зав. №")};
  return headers;
}

#ifdef QUARN_HISTORY_SERVER
// A run read from the lab server, and the calibration it ended (when it ended one).
struct LabRun {
  history::Result<history::StoredRun> run;
  std::optional<history::Result<history::StoredCalibration>> calibration;
};
#endif

// How long the dialog waits for the lab server to answer a connection.
constexpr int kLabConnectTimeoutS = 5;
// The lab's list shows its newest runs (the filters narrow it).
constexpr int kLabListLimit = 1000;

}  // namespace

template <class Work, class Done>
void HistoryDialog::inBackground(Work work, Done done) {
  ++labPending_;
  QPointer<HistoryDialog> self(this);
  QThreadPool::globalInstance()->start([self, work, done] {
    auto result = std::make_shared<decltype(work())>(work());
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [self, result, done]() mutable {
          if (!self) return;
          --self->labPending_;
          done(std::move(*result));
        },
        Qt::QueuedConnection);
  });
}

HistoryDialog::HistoryDialog(QString historyPath, QString programDir, QWidget* parent)
    : QDialog(parent), path_(std::move(historyPath)), programDir_(std::move(programDir)) {
  setObjectName(QStringLiteral("HistoryDialog"));
  setWindowTitle(QStringLiteral("История поверок"));
  resize(1100, 720);

  // Filters: each change lists the runs again.
  serial_ = new QLineEdit(this);
  serial_->setObjectName(QStringLiteral("edSerial"));
  serial_->setPlaceholderText(QStringLiteral("любой"));
  serial_->setClearButtonEnabled(true);
  device_ = new QLineEdit(this);
  device_->setObjectName(QStringLiteral("edDevice"));
  device_->setPlaceholderText(QStringLiteral("часть названия"));
  device_->setClearButtonEnabled(true);
  sinceOn_ = new QCheckBox(QStringLiteral("начиная с"), this);
  sinceOn_->setObjectName(QStringLiteral("cbSince"));
  since_ = new QDateEdit(QDate::currentDate(), this);
  since_->setObjectName(QStringLiteral("deSince"));
  since_->setCalendarPopup(true);
  since_->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
  since_->setEnabled(false);
  // The source (shown when a lab server is configured) and the lab's workstation filter.
  sourceLabel_ = new QLabel(QStringLiteral("Источник"), this);
  sourceChoice_ = new QComboBox(this);
  sourceChoice_->setObjectName(QStringLiteral("cbSource"));
  sourceChoice_->addItem(QStringLiteral("Этот АРМ"));
  sourceChoice_->addItem(QStringLiteral("Сервер лаборатории"));
  sourceChoice_->setToolTip(QStringLiteral("Запуски этой станции или всех станций лаборатории"));
  stationLabel_ = new QLabel(QStringLiteral("Станция"), this);
  station_ = new QComboBox(this);
  station_->setObjectName(QStringLiteral("cbWorkstation"));
  station_->addItem(QStringLiteral("все"), QString());
  station_->setMinimumContentsLength(12);
  for (QWidget* w : {static_cast<QWidget*>(sourceLabel_), static_cast<QWidget*>(sourceChoice_),
                     static_cast<QWidget*>(stationLabel_), static_cast<QWidget*>(station_)})
    w->hide();
  auto* filters = new QHBoxLayout;
  filters->addWidget(sourceLabel_);
  filters->addWidget(sourceChoice_);
  filters->addSpacing(12);
  filters->addWidget(stationLabel_);
  filters->addWidget(station_);
  filters->addWidget(new QLabel(QStringLiteral("Зав. №"), this));
  filters->addWidget(serial_, 1);
  filters->addSpacing(12);
  filters->addWidget(new QLabel(QStringLiteral("Прибор"), this));
  filters->addWidget(device_, 2);
  filters->addSpacing(12);
  filters->addWidget(sinceOn_);
  filters->addWidget(since_);
  connect(serial_, &QLineEdit::textChanged, this, [this] {
    reload();
    // The run shown may have stayed the same; its pair still follows the filter.
    pairFollowsSerialFilter();
  });
  connect(device_, &QLineEdit::textChanged, this, [this] { reload(); });
  connect(sinceOn_, &QCheckBox::toggled, this, [this](bool on) {
    since_->setEnabled(on);
    reload();
  });
  connect(since_, &QDateEdit::dateChanged, this, [this] {
    if (sinceOn_->isChecked()) reload();
  });
  connect(sourceChoice_, &QComboBox::currentIndexChanged, this,
          [this](int index) { setSource(index == 1 ? Source::Lab : Source::Workstation); });
  connect(station_, &QComboBox::currentIndexChanged, this, [this] {
    if (lab()) reload();
  });

  runs_ = makeTable(QStringLiteral("tblRuns"), runHeaders(), this);
  connect(runs_, &QTableWidget::itemSelectionChanged, this, [this] { showRun(); });

  // The chosen run: its points and verdicts; the pair of one of its devices.
  tabs_ = new QTabWidget(this);
  tabs_->setObjectName(QStringLiteral("tabsRun"));
  auto* pointsPage = new QWidget(tabs_);
  verdicts_ = new QLabel(pointsPage);
  verdicts_->setObjectName(QStringLiteral("lbVerdicts"));
  verdicts_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  points_ = makeTable(
      QStringLiteral("tblPoints"),
      {QStringLiteral("Канал"), QStringLiteral("Зав. №"), QStringLiteral("Точка, %"),
       QStringLiteral("P эталона, кПа"), QStringLiteral("Сигнал"), QStringLiteral("Сигнал расч."),
       QStringLiteral("P по сигналу"), QStringLiteral("Погрешность, %"), QStringLiteral("Неопределённость")},
      pointsPage);
  auto* pointsLayout = new QVBoxLayout(pointsPage);
  pointsLayout->addWidget(verdicts_);
  pointsLayout->addWidget(points_, 1);
  tabs_->addTab(pointsPage, QStringLiteral("Точки и заключения"));

  auto* pairPage = new QWidget(tabs_);
  pairSerial_ = new QComboBox(pairPage);
  pairSerial_->setObjectName(QStringLiteral("cbPairSerial"));
  pairSerial_->setMinimumContentsLength(24);
  asFound_ = new QLabel(pairPage);
  asFound_->setObjectName(QStringLiteral("lbAsFound"));
  asLeft_ = new QLabel(pairPage);
  asLeft_->setObjectName(QStringLiteral("lbAsLeft"));
  pair_ = makeTable(QStringLiteral("tblPair"),
                    {QStringLiteral("Точка, %"), QStringLiteral("До: P эталона, кПа"),
                     QStringLiteral("До: погрешность, %"), QStringLiteral("После: P эталона, кПа"),
                     QStringLiteral("После: погрешность, %"), QStringLiteral("Изменение, %")},
                    pairPage);
  auto* sides = new QFormLayout;
  sides->addRow(QStringLiteral("Прибор:"), pairSerial_);
  sides->addRow(QStringLiteral("До настройки:"), asFound_);
  sides->addRow(QStringLiteral("После настройки:"), asLeft_);
  auto* pairLayout = new QVBoxLayout(pairPage);
  pairLayout->addLayout(sides);
  pairLayout->addWidget(pair_, 1);
  tabs_->addTab(pairPage, QStringLiteral("До и после настройки"));
  connect(pairSerial_, &QComboBox::currentIndexChanged, this, [this] { showPair(); });

  auto* split = new QSplitter(Qt::Vertical, this);
  split->addWidget(runs_);
  split->addWidget(tabs_);
  split->setStretchFactor(0, 2);
  split->setStretchFactor(1, 3);

  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("lbStatus"));
  status_->setWordWrap(true);
  status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  protocol_ = new QPushButton(QStringLiteral("Сформировать протокол"), this);
  protocol_->setObjectName(QStringLiteral("pbProtocol"));
  protocol_->setEnabled(false);
  connect(protocol_, &QPushButton::clicked, this, [this] { rebuildProtocol(); });
  auto* close = new QPushButton(QStringLiteral("Закрыть"), this);
  close->setObjectName(QStringLiteral("pbClose"));
  connect(close, &QPushButton::clicked, this, &QDialog::accept);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(status_, 1);
  bottom->addWidget(protocol_);
  bottom->addWidget(close);

  // What the check of the history found: the read's own check, or the full check when asked for.
  check_ = new QLabel(this);
  check_->setObjectName(QStringLiteral("lbCheck"));
  check_->setWordWrap(true);
  check_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  fullCheck_ = new QPushButton(QStringLiteral("Полная проверка"), this);
  fullCheck_->setObjectName(QStringLiteral("pbCheck"));
  fullCheck_->setToolTip(QStringLiteral("Проверить файл истории и всю цепочку записей"));
  connect(fullCheck_, &QPushButton::clicked, this, [this] { runFullCheck(); });
  auto* checkRow = new QHBoxLayout;
  checkRow->addWidget(check_, 1);
  checkRow->addWidget(fullCheck_);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(filters);
  layout->addWidget(split, 1);
  layout->addLayout(checkRow);
  layout->addLayout(bottom);
  reload();
}

HistoryDialog::~HistoryDialog() = default;

QString HistoryDialog::statusText() const { return status_->text(); }

void HistoryDialog::setStatus(const QString& message, bool problem) {
  status_->setText(message);
  status_->setStyleSheet(problem ? QStringLiteral("color: #b00000") : QString());
}

void HistoryDialog::setCheck(const QString& message, bool problem) {
  check_->setText(message);
  check_->setStyleSheet(problem ? QStringLiteral("color: #b00000") : QString());
}

// The check the last read made (it passed, or the read was refused and its message is shown).
void HistoryDialog::showReadCheck() {
  if (!store_) return;
  const history::ChainCheck& c = store_->lastReadCheck();
  if (!c.ok) return;
  QString text = c.head == 0
                     ? QStringLiteral("Цепочка записей проверена: записей нет.")
                     : QStringLiteral("Цепочка записей цела: %1 записей, изменений вне программы не найдено")
                           .arg(c.head);
  if (c.head > 0 && c.verifiedFrom > 1)
    text += QStringLiteral(" (записи до %1 проверены прежде, новые — сейчас).").arg(c.verifiedFrom - 1);
  else if (c.head > 0)
    text += QLatin1Char('.');
  setCheck(text, false);
}

bool HistoryDialog::runFullCheck() {
  if (lab()) return runFullLabCheck();
  if (!openStore()) {
    setCheck(statusText(), true);
    return false;
  }
  const auto result = store_->check();
  if (!result) {
    setCheck(QStringLiteral("Полная проверка: ") + text(result.error().message), true);
    return false;
  }
  const history::ChainCheck& c = result.value();
  if (!c.ok) {
    setCheck(QStringLiteral("Полная проверка: история изменена вне программы — ") +
                 (c.firstBad > 0 ? QStringLiteral("запись %1: ").arg(c.firstBad) : QString()) +
                 text(c.problem),
             true);
    return false;
  }
  QString message = QStringLiteral("Полная проверка: файл и цепочка из %1 записей целы.").arg(c.head);
  if (!c.note.empty()) message += QLatin1Char(' ') + text(c.note);
  setCheck(message, false);
  return true;
}

bool HistoryDialog::openStore() {
  if (store_) return true;
  if (!QFileInfo::exists(path_)) {
    setStatus(QStringLiteral("В истории поверок ещё нет запусков (%1).").arg(path_), false);
    return false;
  }
  history::OpenOptions options;
  options.readOnly = true;
  options.anchorFolder = history::defaultAnchorFolder();
  auto opened = history::HistoryStore::open(path_.toStdString(), options);
  if (!opened) {
    setStatus(text(opened.error().message), true);
    return false;
  }
  store_ = std::move(opened.value());
  return true;
}

void HistoryDialog::reload() {
  if (lab()) {
    reloadLab();
    return;
  }
  const int64_t chosen = selectedRun();
  listed_.clear();
  listedStations_.clear();
  runs_->setEnabled(true);
  runs_->setRowCount(0);
  if (!openStore()) {
    showRun();
    return;
  }
  history::ListFilter filter;
  filter.serial = serial_->text().trimmed().toStdString();
  filter.deviceName = device_->text().trimmed().toStdString();
  if (sinceOn_->isChecked()) filter.since = since_->date().startOfDay().toMSecsSinceEpoch();
  const auto runs = store_->list(filter);
  if (!runs) {
    setStatus(text(runs.error().message), true);
    if (runs.error().code == history::ErrorCode::ChainBroken) setCheck(text(runs.error().message), true);
    showRun();
    return;
  }
  showReadCheck();
  fillRuns(*runs, {}, chosen, {});
  setStatus(QStringLiteral("Запусков: %1").arg(listed_.size()), false);
  showRun();
}

// The rows of the runs listed (on the lab source with their workstations first), the chosen run
// selected again when it is still listed, else the newest.
void HistoryDialog::fillRuns(const std::vector<history::RunSummary>& runs,
                             const std::vector<std::string>& stations, int64_t chosen,
                             const std::string& chosenStation) {
  const QSignalBlocker quiet(runs_);
  runs_->setRowCount(static_cast<int>(runs.size()));
  int row = 0;
  for (std::size_t i = 0; i < runs.size(); ++i) {
    const history::RunSummary& r = runs[i];
    // Devices of one name together: "Метран-150: 1001, 1002; АИР-20: 77".
    QStringList names, verdicts;
    std::vector<QStringList> serials;
    for (const history::DeviceSummary& d : r.devices) {
      const QString name = text(d.name);
      qsizetype k = names.indexOf(name);
      if (k < 0) {
        k = names.size();
        names << name;
        serials.emplace_back();
      }
      serials[static_cast<size_t>(k)] << text(d.serial);
      verdicts << verdictText(d.verdict);
    }
    QStringList devices;
    for (qsizetype k = 0; k < names.size(); ++k)
      devices << names[k] + QStringLiteral(": ") + serials[static_cast<size_t>(k)].join(QStringLiteral(", "));
    QStringList cells{QString::number(r.runId),
                      timeText(r.startedAtMs, r.utcOffsetMin),
                      kindText(r.kind),
                      tagText(r.tag),
                      text(r.calibratorSerial),
                      verdicts.join(QStringLiteral(", ")),
                      devices.join(QStringLiteral("; "))};
    if (lab()) cells.prepend(text(stations[i]));
    setRow(runs_, row++, cells);
    listed_.push_back(r.runId);
    if (lab()) listedStations_.push_back(stations[i]);
  }
  runs_->resizeColumnsToContents();
  if (!selectRun(chosen, text(chosenStation)) && !listed_.empty())
    selectRun(listed_.front(), lab() ? text(listedStations_.front()) : QString());
}

bool HistoryDialog::selectRun(int64_t runId, const QString& workstation) {
  for (size_t i = 0; i < listed_.size(); ++i) {
    if (listed_[i] != runId) continue;
    if (lab() && !workstation.isEmpty() && text(listedStations_[i]) != workstation) continue;
    runs_->selectRow(static_cast<int>(i));
    return true;
  }
  return false;
}

int64_t HistoryDialog::selectedRun() const {
  const QList<QTableWidgetItem*> items = runs_->selectedItems();
  if (items.isEmpty()) return 0;
  const int row = items.front()->row();
  return row >= 0 && static_cast<size_t>(row) < listed_.size() ? listed_[static_cast<size_t>(row)] : 0;
}

QString HistoryDialog::selectedWorkstation() const {
  const QList<QTableWidgetItem*> items = runs_->selectedItems();
  if (items.isEmpty() || !lab()) return {};
  const auto row = static_cast<size_t>(items.front()->row());
  return row < listedStations_.size() ? text(listedStations_[row]) : QString();
}

void HistoryDialog::showRun() {
  const int64_t id = selectedRun();
  const std::string station = selectedWorkstation().toStdString();
  if (shown_ && shown_->runId == id && shownStation_ == station) return;
  shown_.reset();
  shownCalibration_.reset();
  calibrationProblem_.clear();
  shownStation_ = station;
  ++runRequest_;  // a run still being read is not shown
  points_->setRowCount(0);
  verdicts_->clear();
  {
    const QSignalBlocker quiet(pairSerial_);
    pairSerial_->clear();
  }
  protocol_->setEnabled(false);
  if (id != 0 && lab()) {
#ifdef QUARN_HISTORY_SERVER
    verdicts_->setText(
        QStringLiteral("Загрузка запуска %1 станции «%2» с сервера лаборатории…").arg(id).arg(text(station)));
    showPair();
    history::ServerOptions options;
    options.uri = labUri_;
    options.connectTimeoutS = kLabConnectTimeoutS;
    const uint64_t request = runRequest_;
    // The run, and for the run that ended a calibration the calibration its protocol is made of.
    inBackground(
        [options, station, id] {
          LabRun out{history::showServer(options, station, id), std::nullopt};
          if (out.run && quarn::data::calibrationReasonsOf(out.run->record.protocol.fields))
            out.calibration = history::calibrationServer(options, station, out.run->runId);
          return out;
        },
        [this, request, station](LabRun found) {
          if (request != runRequest_) return;
          verdicts_->clear();
          history::Result<history::StoredRun>& run = found.run;
          if (!run) {
            setStatus(text(run.error().message), true);
            if (run.error().code == history::ErrorCode::ChainBroken)
              setCheck(text(run.error().message), true);
            return;
          }
          shown_ = std::make_unique<history::StoredRun>(std::move(run.value()));
          if (found.calibration && *found.calibration)
            shownCalibration_ =
                std::make_unique<history::StoredCalibration>(std::move(found.calibration->value()));
          else if (found.calibration)
            calibrationProblem_ = text(found.calibration->error().message);
          setCheck(QStringLiteral("Запуск %1 станции «%2» проверен по цепочке её записей на сервере: "
                                  "изменений вне программы не найдено.")
                       .arg(shown_->runId)
                       .arg(text(station)),
                   false);
          fillRun();
        });
#endif
    return;
  }
  if (id != 0 && store_) {
    auto run = store_->show(id);
    if (run) {
      shown_ = std::make_unique<history::StoredRun>(std::move(run.value()));
      showReadCheck();
    } else {
      setStatus(text(run.error().message), true);
      if (run.error().code == history::ErrorCode::ChainBroken) setCheck(text(run.error().message), true);
    }
  }
  if (!shown_) {
    showPair();
    return;
  }
  fillRun();
}

// The run shown: its devices and verdicts, its points (a relay check's contacts), the devices whose
// pair can be shown.
void HistoryDialog::fillRun() {
  // The device whose pair was shown last (the list is emptied and filled again on every reload).
  const QString keptSerial = pairShown_;
  const history::RunRecord& r = shown_->record;
  const int decimals = r.protocol.decimals >= 0 && r.protocol.decimals <= 6 ? r.protocol.decimals : 3;
  QStringList lines;
  lines << QStringLiteral("Запуск %1: %2, %3, %4; калибратор %5 № %6; рабочее место %7")
               .arg(shown_->runId)
               .arg(kindText(r.kind), tagText(r.tag), timeText(r.startedAtMs, r.utcOffsetMin),
                    text(r.calibrator.model), text(r.calibrator.serial), text(r.workstation));
  if (shown_->cancelled) lines << QStringLiteral("Запуск отменён: %1").arg(text(shown_->cancelReason));
  for (const history::DeviceResult& d : r.devices)
    lines << QStringLiteral("Канал %1: %2, %3 … %4 %5 — %6")
                 .arg(d.channel)
                 .arg(deviceText(d), number(d.rangeMin, decimals), number(d.rangeMax, decimals),
                      text(d.units),
                      r.kind == history::RunKind::RelayCheck ? QStringLiteral("проверка реле")
                                                             : verdictText(d.verdict));
  verdicts_->setText(lines.join(QLatin1Char('\n')));

  if (r.kind == history::RunKind::RelayCheck) {
    points_->setColumnCount(6);
    points_->setHorizontalHeaderLabels({QStringLiteral("Канал"), QStringLiteral("Реле"),
                                        QStringLiteral("Уставка, кПа"), QStringLiteral("Гистерезис, кПа"),
                                        QStringLiteral("P срабатывания, кПа"),
                                        QStringLiteral("P отпускания, кПа")});
    int row = 0;
    for (const history::RelayResult& x : r.relays) {
      if (!x.selected) continue;
      points_->setRowCount(row + 1);
      setRow(points_, row++,
             {QString::number(x.channel), QString::number(x.relay), number(x.setpointKpa, decimals),
              number(x.hysteresisKpa, decimals), number(x.pOnKpa, decimals), number(x.pOffKpa, decimals)});
    }
  } else {
    points_->setColumnCount(9);
    points_->setHorizontalHeaderLabels({QStringLiteral("Канал"), QStringLiteral("Зав. №"),
                                        QStringLiteral("Точка, %"), QStringLiteral("P эталона, кПа"),
                                        QStringLiteral("Сигнал"), QStringLiteral("Сигнал расч."),
                                        QStringLiteral("P по сигналу"), QStringLiteral("Погрешность, %"),
                                        QStringLiteral("Неопределённость")});
    int row = 0;
    for (const history::DeviceResult& d : r.devices) {
      for (const history::PointResult& p : d.points) {
        points_->setRowCount(row + 1);
        setRow(points_, row++,
               {QString::number(d.channel), text(d.serial),
                std::isnan(p.targetPrc) ? QStringLiteral("вручную") : number(p.targetPrc, 1),
                number(p.pRef, decimals), number(p.current, 3) + QLatin1Char(' ') + text(d.signalUnits),
                number(p.iExpected, 3), number(p.pFromI, decimals) + QLatin1Char(' ') + text(d.units),
                number(p.reducedError, 3), number(p.uncertainty, decimals)});
      }
    }
    protocol_->setEnabled(true);
  }
  points_->resizeColumnsToContents();

  {
    const QSignalBlocker quiet(pairSerial_);
    for (const history::DeviceResult& d : r.devices)
      if (!d.serial.empty() && pairSerial_->findData(text(d.serial)) < 0)
        pairSerial_->addItem(deviceText(d), text(d.serial));
    const int kept = pairSerial_->findText(keptSerial);
    pairSerial_->setCurrentIndex(kept >= 0 ? kept : 0);
  }
  if (!pairFollowsSerialFilter()) showPair();
}

bool HistoryDialog::pairFollowsSerialFilter() {
  // A run of several devices listed for the serial the operator filters by shows that device's pair,
  // not the run's first device.
  const QString wanted = serial_->text().trimmed();
  const int index = wanted.isEmpty() ? -1 : pairSerial_->findData(wanted);
  if (index < 0 || index == pairSerial_->currentIndex()) return false;
  pairSerial_->setCurrentIndex(index);  // shows its pair
  return true;
}

void HistoryDialog::showPair() {
  pair_->setRowCount(0);
  asFound_->clear();
  asLeft_->clear();
  ++pairRequest_;
  const QString serial = pairSerial_->currentData().toString();
  if (serial.isEmpty() || (!store_ && !lab())) return;
  pairShown_ = pairSerial_->currentText();
  if (lab()) {
#ifdef QUARN_HISTORY_SERVER
    asFound_->setText(QStringLiteral("загрузка…"));
    history::ServerOptions options;
    options.uri = labUri_;
    options.connectTimeoutS = kLabConnectTimeoutS;
    const uint64_t request = pairRequest_;
    const std::string station = shownStation_;
    inBackground([options, station,
                  serial = serial.toStdString()] { return history::pairServer(options, station, serial); },
                 [this, request](history::Result<history::RunPair> found) {
                   if (request != pairRequest_) return;
                   if (!found) {
                     asFound_->setText(text(found.error().message));
                     if (found.error().code == history::ErrorCode::ChainBroken)
                       setCheck(text(found.error().message), true);
                     return;
                   }
                   fillPair(found.value());
                 });
#endif
    return;
  }
  const auto found = store_->pair(serial.toStdString());
  if (!found) {
    asFound_->setText(text(found.error().message));
    if (found.error().code == history::ErrorCode::ChainBroken) setCheck(text(found.error().message), true);
    return;
  }
  fillPair(found.value());
}

void HistoryDialog::fillPair(const history::RunPair& p) {
  asFound_->setText(pairSideText(p.asFound, p.serial));
  asLeft_->setText(pairSideText(p.asLeft, p.serial));
  const int decimals = p.asFound ? p.asFound->record.protocol.decimals : 3;
  pair_->setRowCount(static_cast<int>(p.points.size()));
  int row = 0;
  for (const history::PointChange& c : p.points) {
    auto side = [decimals](const std::optional<history::PointResult>& x, bool pressure) {
      if (!x) return QStringLiteral("—");
      return pressure ? number(x->pRef, decimals) : number(x->reducedError, 3);
    };
    const QString change = number(c.errorChange, 3, true);
    setRow(
        pair_, row++,
        {std::isnan(c.targetPrc) ? QStringLiteral("вручную") : number(c.targetPrc, 1), side(c.asFound, true),
         side(c.asFound, false), side(c.asLeft, true), side(c.asLeft, false), change});
  }
  pair_->resizeColumnsToContents();
}

QString HistoryDialog::rebuildProtocol(QString outputPath) {
  if (!shown_) {
    setStatus(QStringLiteral("Выберите запуск."), true);
    return {};
  }
  const history::RunRecord& record = shown_->record;
  if (record.kind == history::RunKind::RelayCheck) {
    setStatus(QStringLiteral("У проверки реле нет протокола."), true);
    return {};
  }
  const QString station = text(shownStation_);
  if (outputPath.isEmpty()) {
    const QString title =
        station.isEmpty()
            ? QStringLiteral("Протокол запуска %1").arg(shown_->runId)
            : QStringLiteral("Протокол запуска %1 станции «%2»").arg(shown_->runId).arg(station);
    if (Prompts::fileName) {
      outputPath = Prompts::fileName(title, true);
    } else {
      const QString reports = QDir(programDir_).filePath(QStringLiteral("reports"));
      QDir().mkpath(reports);
      outputPath = QFileDialog::getSaveFileName(
          this, title,
          QDir(reports).filePath(
              station.isEmpty()
                  ? QStringLiteral("Протокол запуск %1.xlsx").arg(shown_->runId)
                  : QStringLiteral("Протокол %1 запуск %2.xlsx").arg(station).arg(shown_->runId)),
          QStringLiteral("Книга Excel (*.xlsx)"));
    }
    if (outputPath.isEmpty()) return {};
  }

  // The record is filled from the stored run as the run left it; the report assembly then makes
  // the workbook as at the end of the run, with the standard template.
  quarn::report::ReportRequest request;
  quarn::data::ReportTemplate standard;
  quarn::data::resolveReportTemplate(standard, programDir_.toStdString());
  request.templateFolder = standard.folder;
  request.templateName = standard.name;
  request.outputPath = outputPath.toStdString();
  // The same entry as the protocol made at the end of the run (a corrected run's: its correction).
  request.historyEntry = history::protocolFooter(shown_->contentId, shown_->hash);
  // The run that ended a calibration: the calibration's protocol of both its runs and the trims
  // between them, as quarn-cli history report makes it (from the file, or as read from the server).
  std::optional<quarn::data::CalibrationRuns> calibration;
  if (quarn::data::calibrationReasonsOf(record.protocol.fields)) {
    std::optional<history::StoredCalibration> found;
    if (lab()) {
      if (shownCalibration_) found = *shownCalibration_;
    } else if (store_) {
      auto read = store_->calibrationOf(shown_->runId);
      if (read)
        found = std::move(read.value());
      else
        calibrationProblem_ = text(read.error().message);
    }
    if (!found) {
      setStatus(QStringLiteral("Протокол не сформирован: %1").arg(calibrationProblem_), true);
      return {};
    }
    if (record.tag == history::RunTag::AsLeft && !found->asFound) {
      setStatus(QStringLiteral("Протокол калибровки не сформирован: в истории нет запуска её приборов до "
                               "настройки перед запуском %1.")
                    .arg(shown_->runId),
                true);
      return {};
    }
    calibration = history::calibrationRunsOfStored(*found);
  }
  const int result = calibration
                         ? quarn::report::makeCalibrationReport(*calibration, request)
                         : quarn::report::makeRunReport(history::snapshotOfStoredRun(record), request);
  if (result != 0) {
    const std::string& why = quarn::report::LastReportError();
    setStatus(QStringLiteral("Протокол не сформирован: %1")
                  .arg(why.empty() ? QStringLiteral("код %1").arg(result) : text(why)),
              true);
    return {};
  }
  const QString written = text(quarn::report::LastReportOutput());
  setStatus(QStringLiteral("Протокол запуска %1 записан: %2").arg(shown_->runId).arg(written), false);
  return written;
}

// ---- the lab server ----

void HistoryDialog::setLabServer(const std::string& uri) {
#ifdef QUARN_HISTORY_SERVER
  labUri_ = uri;
  const bool offered = !labUri_.empty();
  sourceLabel_->setVisible(offered);
  sourceChoice_->setVisible(offered);
  if (!offered)
    setSource(Source::Workstation);
  else if (labAsked_)
    setSource(Source::Lab);
#else
  (void)uri;
#endif
}

void HistoryDialog::setSource(Source source) {
  // The lab asked for before the server is known (the settings are read after the window opens) is
  // taken when it is.
  labAsked_ = source == Source::Lab;
  if (source == Source::Lab && labUri_.empty()) source = Source::Workstation;
  {
    const QSignalBlocker quiet(sourceChoice_);
    sourceChoice_->setCurrentIndex(source == Source::Lab ? 1 : 0);
  }
  if (source == source_) return;
  source_ = source;
  stationLabel_->setVisible(lab());
  station_->setVisible(lab());
  // Nothing of the other source stays on the screen.
  shown_.reset();
  shownCalibration_.reset();
  shownStation_.clear();
  listed_.clear();
  listedStations_.clear();
  {
    const QSignalBlocker quiet(runs_);
    runs_->setRowCount(0);
  }
  QStringList headers = runHeaders();
  if (lab()) headers.prepend(QStringLiteral("Станция"));
  runs_->setColumnCount(static_cast<int>(headers.size()));
  runs_->setHorizontalHeaderLabels(headers);
  // The lab's list does not carry the calibrator (its columns are the runs' start, kind, tag and
  // devices): that column stays hidden there.
  for (int c = 0; c < runs_->columnCount(); ++c) runs_->setColumnHidden(c, lab() && c == 5);
  setCheck(QString(), false);
  fullCheck_->setToolTip(lab() ? QStringLiteral("Проверить цепочки записей станций на сервере лаборатории")
                               : QStringLiteral("Проверить файл истории и всю цепочку записей"));
  reload();
}

void HistoryDialog::reloadLab() {
#ifdef QUARN_HISTORY_SERVER
  const int64_t chosen = selectedRun();
  const std::string chosenStation = selectedWorkstation().toStdString();
  history::ServerListFilter filter;
  filter.workstationId = station_->currentData().toString().toStdString();
  filter.serial = serial_->text().trimmed().toStdString();
  filter.deviceName = device_->text().trimmed().toStdString();
  if (sinceOn_->isChecked()) filter.since = since_->date().startOfDay().toMSecsSinceEpoch();
  filter.limit = kLabListLimit;
  history::ServerOptions options;
  options.uri = labUri_;
  options.connectTimeoutS = kLabConnectTimeoutS;
  const uint64_t request = ++listRequest_;
  setStatus(QStringLiteral("Загрузка списка запусков с сервера лаборатории…"), false);
  runs_->setEnabled(false);
  inBackground(
      [options, filter] { return history::listServer(options, filter); },
      [this, request, chosen, chosenStation](history::Result<std::vector<history::ServerRun>> found) {
        if (request != listRequest_ || !lab()) return;
        runs_->setEnabled(true);
        listed_.clear();
        listedStations_.clear();
        {
          const QSignalBlocker quiet(runs_);
          runs_->setRowCount(0);
        }
        if (!found) {
          setStatus(text(found.error().message), true);
          showRun();
          return;
        }
        std::vector<history::RunSummary> runs;
        std::vector<std::string> stations;
        for (const history::ServerRun& s : *found) {
          history::RunSummary r;
          r.runId = s.runId;
          r.contentId = s.seq;
          r.cancelled = s.cancelled;
          r.startedAtMs = s.startedAtMs;
          r.utcOffsetMin = s.utcOffsetMin;
          r.workstation = s.workstation;
          r.kind = history::kindFromName(s.kind).value_or(history::RunKind::Verification);
          r.tag = history::tagFromName(s.tag).value_or(history::RunTag::AsFound);
          for (const history::ServerRun::Device& d : s.devices)
            r.devices.push_back({d.channel,
                                 d.name,
                                 {},
                                 d.serial,
                                 history::verdictFromName(d.verdict).value_or(history::Verdict::None)});
          runs.push_back(std::move(r));
          stations.push_back(s.workstationId);
        }
        // The workstation filter offers every workstation the lab's lists named so far.
        const size_t known = knownStations_.size();
        knownStations_.insert(stations.begin(), stations.end());
        if (knownStations_.size() != known) {
          const QSignalBlocker quiet(station_);
          const QString current = station_->currentData().toString();
          while (station_->count() > 1) station_->removeItem(1);
          for (const std::string& id : knownStations_) station_->addItem(text(id), text(id));
          station_->setCurrentIndex(std::max(0, station_->findData(current)));
        }
        fillRuns(runs, stations, chosen, chosenStation);
        QString status = QStringLiteral("Запусков на сервере лаборатории: %1").arg(listed_.size());
        if (listed_.size() >= static_cast<size_t>(kLabListLimit))
          status += QStringLiteral(" (показаны последние %1; уточните фильтр)").arg(kLabListLimit);
        setStatus(status, false);
        showRun();
      });
#endif
}

bool HistoryDialog::runFullLabCheck() {
#ifdef QUARN_HISTORY_SERVER
  history::ServerOptions options;
  options.uri = labUri_;
  options.connectTimeoutS = kLabConnectTimeoutS;
  const std::string only = station_->currentData().toString().toStdString();
  const uint64_t request = ++checkRequest_;
  setCheck(QStringLiteral("Полная проверка сервера лаборатории: загрузка…"), false);
  inBackground([options, only] { return history::checkServer(nullptr, options, only); },
               [this, request](history::Result<history::ServerCheck> found) {
                 if (request != checkRequest_ || !lab()) return;
                 if (!found) {
                   setCheck(QStringLiteral("Полная проверка сервера: ") + text(found.error().message), true);
                   return;
                 }
                 for (const history::ServerChainCheck& c : found->workstations)
                   if (!c.ok) {
                     setCheck(QStringLiteral("Полная проверка сервера: история станции «%1» изменена вне "
                                             "программы — запись %2: %3")
                                  .arg(text(c.workstationId))
                                  .arg(c.firstBad)
                                  .arg(text(c.problem)),
                              true);
                     return;
                   }
                 int64_t entries = 0;
                 for (const history::ServerChainCheck& c : found->workstations) entries += c.entries;
                 setCheck(
                     QStringLiteral("Полная проверка сервера: цепочки записей %1 станций (%2 записей) целы.")
                         .arg(found->workstations.size())
                         .arg(entries),
                     false);
               });
#endif
  return true;
}

}  // namespace arm
