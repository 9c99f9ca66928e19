#include "HartDevicePanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <cmath>

#include "ChannelRules.h"
#include "HartWidgets.h"
#include "LabelPanel.h"
#include "RecordTexts.h"
#include "TDevValues.h"
#include "UiHelpers.h"
#include "WorkstationContext.h"
#include "ZDialog.h"

namespace arm {

namespace {

constexpr uint32_t kHartInputType = 8;  // the Kesto inputs measure 4-20 mA loops with HART
constexpr int kReadRequests = 6;        // commands of the read chain
constexpr int kWriteRequests = 12;      // writes and the read chain after them

bool validChannel(int32_t ch) { return ch >= 0 && ch < 4; }

QLabel* makePlacedLabel(const QString& name, const QString& text, QWidget* parent, bool keepPlace = true) {
  auto* l = new QLabel(text, parent);
  l->setObjectName(name);
  if (keepPlace) {
    // A hidden label keeps its place, so nothing around it moves when it comes and goes.
    QSizePolicy policy = l->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    l->setSizePolicy(policy);
  }
  return l;
}

void setTextColour(QLabel* label, const QColor& colour) {
  QPalette p = label->palette();
  p.setColor(QPalette::WindowText, colour);
  label->setPalette(p);
}

void keepPlaceWhenHidden(QWidget* w) {
  QSizePolicy policy = w->sizePolicy();
  policy.setRetainSizeWhenHidden(true);
  w->setSizePolicy(policy);
}

}  // namespace

int HartDevicePanel::unitIndex(int code) {
  for (int i = 0; i < kUnitCount; ++i)
    if (kUnitCodes[i] == code) return i;
  return -1;
}

HartDevicePanel::HartDevicePanel(WorkstationContext& context, QWidget* parent)
    : QFrame(parent), context_(context) {
  setObjectName(QStringLiteral("Frame_Mode_2_1_HART1"));
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 8);
  layout->setSpacing(18);

  // ---- Channels, search and warnings (left) ----
  auto* left = new QVBoxLayout;
  left->setSpacing(6);
  auto* channels = new QGridLayout;
  channels->setHorizontalSpacing(10);
  channels->setVerticalSpacing(4);
  for (int ch = 0; ch < 4; ++ch) {
    const QString n = QString::number(ch + 1);
    selectors_[ch] =
        hart::makeButton(QStringLiteral("pnCh") + n, QStringLiteral("Label%1").arg(ch + 6), n, this);
    selectors_[ch]->setProperty("tag", ch + 1);
    selectors_[ch]->setFixedSize(58, 44);
    QFont big = selectors_[ch]->label()->font();
    big.setPointSize(big.pointSize() + 4);
    selectors_[ch]->label()->setFont(big);
    enableTree(selectors_[ch], false);
    connect(selectors_[ch], &LabelPanel::clicked, this, [this, ch] { Sel_Ch_Click(ch + 1); });

    badAdr_[ch] = makePlacedLabel(QStringLiteral("lab_BadAdr_") + n, QStringLiteral("!"), this);
    QFont bold = badAdr_[ch]->font();
    bold.setBold(true);
    bold.setPointSize(bold.pointSize() + 6);
    badAdr_[ch]->setFont(bold);
    setTextColour(badAdr_[ch], Qt::red);
    badAdr_[ch]->hide();

    stateOn_[ch] = makePlacedLabel(QStringLiteral("lb_state_On_") + n, QStringLiteral("Подключен"), this);
    state_[ch] = makePlacedLabel(QStringLiteral("lb_state_") + n, QStringLiteral("поиск xx%..."), this);
    setTextColour(stateOn_[ch], QColor(0, 110, 0));
    for (QLabel* l : {stateOn_[ch], state_[ch]}) {
      l->setAlignment(Qt::AlignCenter);
      l->setMinimumWidth(78);
      l->hide();
    }
    auto* tile = new QHBoxLayout;
    tile->setSpacing(2);
    tile->addWidget(selectors_[ch]);
    tile->addWidget(badAdr_[ch]);
    channels->addLayout(tile, 0, ch, Qt::AlignHCenter);
    // "Подключен" and the progress share the place under the selector.
    channels->addWidget(stateOn_[ch], 1, ch);
    channels->addWidget(state_[ch], 1, ch);
  }
  auto* channelsTitle =
      makePlacedLabel(QStringLiteral("lab_Channels"), QStringLiteral("Каналы"), this, false);
  QFont titleFont = channelsTitle->font();
  titleFont.setBold(true);
  channelsTitle->setFont(titleFont);
  left->addWidget(channelsTitle);
  left->addLayout(channels);

  search_ = hart::makeButton(QStringLiteral("pnHartSearch"), QStringLiteral("Label_HartSearch"),
                             QStringLiteral("Начать поиск "), this);
  stopSearch_ = hart::makeButton(QStringLiteral("pnHartStopSearch"), QStringLiteral("Label_HartStopSearch"),
                                 QStringLiteral("Остановить поиск"), this);
  for (LabelPanel* b : {search_, stopSearch_}) {
    b->setMinimumHeight(40);
    keepPlaceWhenHidden(b);
    connect(b, &LabelPanel::clicked, this, [this] { pnHartSearchClick(); });
  }
  stopSearch_->hide();
  enableTree(search_, false);
  auto* searchPlace = new QGridLayout;
  searchPlace->addWidget(search_, 0, 0);
  searchPlace->addWidget(stopSearch_, 0, 0);
  left->addSpacing(6);
  left->addLayout(searchPlace);
  // The next search takes answers as soon as they are complete; one that runs keeps its windows.
  fastSearch_ = new QCheckBox(QStringLiteral("Быстрый поиск HART"), this);
  fastSearch_->setObjectName(QStringLiteral("cb_FastHartSearch"));
  fastSearch_->setChecked(context_.fastHartSearch());
  connect(fastSearch_, &QCheckBox::toggled, this, [this](bool on) { context_.setFastHartSearch(on); });
  connect(&context_, &WorkstationContext::fastHartSearchChanged, fastSearch_, [this](bool on) {
    const QSignalBlocker quiet(fastSearch_);
    fastSearch_->setChecked(on);
  });
  left->addWidget(fastSearch_);

  attentionAdr_ = makePlacedLabel(
      QStringLiteral("lab_AttantionAdr"),
      QStringLiteral("ВНИМАНИЕ!  У некоторых приборов отключен токовый выход  (адрес не 0)"), this);
  attentionI_ =
      makePlacedLabel(QStringLiteral("lab_Attantion_I"),
                      QStringLiteral("ВНИМАНИЕ!  У некоторых приборов токовый выход  не 4-20 мА"), this);
  for (QLabel* l : {attentionAdr_, attentionI_}) {
    l->setWordWrap(true);
    l->setMaximumWidth(300);
    setTextColour(l, Qt::red);
    l->hide();
    left->addWidget(l);
  }
  rec_ = makePlacedLabel(QStringLiteral("lb_Rec"), QStringLiteral("+++++++++++++"), this);
  QFont recFont = rec_->font();
  recFont.setBold(true);
  rec_->setFont(recFont);
  rec_->hide();
  left->addWidget(rec_);
  left->addStretch(1);
  layout->addLayout(left);

  // ---- Device data and operations (right) ----
  auto* right = new QVBoxLayout;
  right->setSpacing(8);
  auto* fields = new QGridLayout;
  fields->setHorizontalSpacing(12);
  fields->setVerticalSpacing(2);
  fields_ = fields;
  devName_ = addField(QStringLiteral("edDevName"), QStringLiteral(" Тип прибора"), 0, 0, 2);
  sn_ = addField(QStringLiteral("edSN"), QStringLiteral(" Серийный №"), 0, 2);
  adr_ = addList(QStringLiteral("cbAdr"), QStringLiteral(" Адрес"), 1, 0);
  date_ = addField(QStringLiteral("edDate"), QStringLiteral(" Дата производства"), 1, 1);
  fn_ = addList(QStringLiteral("cbFn"), QStringLiteral(" Зависимость"), 1, 2);
  sensDiap_ = addField(QStringLiteral("edSensDiap"), QStringLiteral(" Диапазон сенсора"), 2, 0);
  sensSpan_ = addField(QStringLiteral("edSensSpan"), QStringLiteral(" Мин. диапазон"), 2, 1);
  dempf_ = addField(QStringLiteral("edDempf"), QStringLiteral(" Вpемя демпф., cек. "), 2, 2);
  diapMin_ = addField(QStringLiteral("edDiapMin"), QStringLiteral(" Диапазон P мин."), 3, 0);
  diapMax_ = addField(QStringLiteral("edDiapMax"), QStringLiteral(" Диапазон P макс."), 3, 1);
  units_ = addList(QStringLiteral("cdUnits"), QStringLiteral(" Единица измерений"), 3, 2);
  for (QLineEdit* e : {devName_, sensDiap_, sensSpan_, sn_}) e->setReadOnly(true);
  for (int a = 0; a <= 63; ++a) adr_->addItem(QString::number(a));
  units_->addItems({QStringLiteral("кПа"), QStringLiteral("МПа"), QStringLiteral("бар"),
                    QStringLiteral("кгс/см2"), QStringLiteral("кгс/м2"), QStringLiteral("мм вод. ст."),
                    QStringLiteral("мм рт. ст."), QStringLiteral("psi")});
  fn_->addItems({QStringLiteral("Линейная"), QStringLiteral("Корнеизвл.")});
  // edAdrKeyPress: the range and damping entries take numbers, "-" toggles the sign.
  for (QLineEdit* e : {diapMin_, diapMax_, dempf_}) NumericKeyFilter::install(e, true);
  for (int c = 0; c < 3; ++c) fields->setColumnStretch(c, 1);
  right->addLayout(fields);

  auto* buttons = new QHBoxLayout;
  buttons->setSpacing(8);
  write_ = hart::makeButton(QStringLiteral("pnHartWrite"), QStringLiteral("Label_HartWrite"),
                            QStringLiteral("Записать"), this);
  reset_ = hart::makeButton(QStringLiteral("pnHartReset"), QStringLiteral("Label_HartReset"),
                            QStringLiteral("Перезагрузить устройство"), this);
  set0_ = hart::makeButton(QStringLiteral("pnSet_0"), QStringLiteral("Label_Set_0"),
                           QStringLiteral("Уст. '0'"), this);
  repair_ = hart::makeButton(QStringLiteral("pnRepair"), QStringLiteral("Label_Repair"),
                             QStringLiteral("Восст. зав. параметров"), this);
  for (LabelPanel* b : {write_, reset_, set0_, repair_}) {
    b->setMinimumHeight(44);
    enableTree(b, false);
    buttons->addWidget(b, 1);
  }
  connect(write_, &LabelPanel::clicked, this, [this] { pnHartWriteClick(); });
  connect(reset_, &LabelPanel::clicked, this, [this] { pnHartResetClick(); });
  connect(set0_, &LabelPanel::clicked, this, [this] { pnSet_0Click(); });
  connect(repair_, &LabelPanel::clicked, this, [this] { btn_Recovery(); });
  right->addLayout(buttons);
  right->addStretch(1);
  layout->addLayout(right, 1);

  colourSelectors(-1);
  ClearDevice();
}

QLineEdit* HartDevicePanel::addField(const QString& name, const QString& caption, int row, int column,
                                     int span) {
  QGridLayout* grid = fields_;
  auto* label = new QLabel(caption, this);
  label->setObjectName(name + QStringLiteral("_label"));
  auto* edit = new QLineEdit(this);
  edit->setObjectName(name);
  grid->addWidget(label, 2 * row, column, 1, span);
  grid->addWidget(edit, 2 * row + 1, column, 1, span);
  return edit;
}

QComboBox* HartDevicePanel::addList(const QString& name, const QString& caption, int row, int column) {
  QGridLayout* grid = fields_;
  auto* label = new QLabel(caption, this);
  label->setObjectName(name + QStringLiteral("_label"));
  auto* list = new QComboBox(this);
  list->setObjectName(name);
  list->setMaxVisibleItems(16);
  grid->addWidget(label, 2 * row, column);
  grid->addWidget(list, 2 * row + 1, column);
  return list;
}

// ---- Showing a device ---------------------------------------------------------------------------

void HartDevicePanel::ShowDevice(const THartDev& device) {
  const float lowerSensor = device.lowerSensorLimit;
  const float upperSensor = device.upperSensorLimit;
  const float minSpan = device.minSpan;
  const float lower = device.lowerRange;
  const float upper = device.upperRange;
  const float damping = device.damping;
  const int address = device.pollingAddress;
  const uint32_t id = device.deviceId;
  const int day = device.dateDay;
  const int month = device.dateMonth;
  const int year = device.dateYear;

  devName_->setText(recordText(device.deviceTypeName));
  adr_->setCurrentIndex(address < adr_->count() ? address : -1);
  sensDiap_->setText(formatValue(lowerSensor, 3) + QStringLiteral("...") + formatValue(upperSensor, 3));
  sensSpan_->setText(formatValue(minSpan, 3));
  diapMin_->setText(formatValue(lower, 3));
  diapMax_->setText(formatValue(upper, 3));
  units_->setCurrentIndex(unitIndex(device.rangeUnits));
  sn_->setText(QString::number(id));
  date_->setText(QStringLiteral("%1/%2/%3").arg(day).arg(month).arg(year));
  dempf_->setText(formatValue(damping, 3));
  const int function = device.transferFunction;
  fn_->setCurrentIndex(function == 0 || function == 1 ? function : -1);

  shownLower_ = {diapMin_->text(), lower};
  shownUpper_ = {diapMax_->text(), upper};
  shownDamping_ = {dempf_->text(), damping};
  shownUnits_ = device.rangeUnits;
  shownFunction_ = function;
}

void HartDevicePanel::ClearDevice() {
  for (QLineEdit* e : {devName_, sensDiap_, sensSpan_, diapMin_, diapMax_, sn_, date_, dempf_}) e->clear();
  for (QComboBox* c : {adr_, units_, fn_}) c->setCurrentIndex(-1);
  shownLower_ = shownUpper_ = shownDamping_ = ShownValue{};
  shownUnits_ = shownFunction_ = -1;
}

float HartDevicePanel::editedValue(const QLineEdit* edit, const ShownValue& shown) const {
  if (!shown.text.isEmpty() && edit->text() == shown.text && std::isfinite(shown.value)) return shown.value;
  return static_cast<float>(textToValue(edit->text()));
}

void HartDevicePanel::WriteParamsToDev(TDev& dev) {
  // Without a selection the index -1 goes out; the library writes address 0 for anything above 200.
  dev.hartWrAddress = static_cast<uint32_t>(adr_->currentIndex());
  dev.hartWrLower = editedValue(diapMin_, shownLower_);
  dev.hartWrUpper = editedValue(diapMax_, shownUpper_);
  dev.hartWrDamping = editedValue(dempf_, shownDamping_);
  // A units code or transfer function the lists do not have stays as the device reported it.
  int units = shownUnits_;
  int function = shownFunction_;
  if (validChannel(selCh_)) {
    if (units < 0) units = dev.hart[selCh_].rangeUnits;
    if (function < 0) function = dev.hart[selCh_].transferFunction;
  }
  const int unitEntry = units_->currentIndex();
  dev.hartWrUnits = unitEntry >= 0 ? kUnitCodes[unitEntry] : static_cast<uint32_t>(units);
  const int functionEntry = fn_->currentIndex();
  dev.hartWrFunction = static_cast<uint32_t>(functionEntry >= 0 ? functionEntry : function);
}

// ---- Search ---------------------------------------------------------------------------------------

void HartDevicePanel::colourSelectors(int selected) {
  for (int ch = 0; ch < 4; ++ch) {
    if (ch == selected)
      hart::paintButton(selectors_[ch], hart::selectedPanel(), Qt::black);
    else
      hart::paintButton(selectors_[ch], hart::darkPanel(), Qt::white);
  }
}

void HartDevicePanel::StartStopSearch(bool start) {
  for (int ch = 0; ch < 4; ++ch) {
    stateOn_[ch]->hide();
    state_[ch]->hide();
    badAdr_[ch]->hide();
    enableTree(selectors_[ch], false);
  }
  attentionAdr_->hide();
  // The current warning spoke of the devices of the previous search.
  attentionI_->hide();
  colourSelectors(-1);
  // The channel count is not asked here: it comes from the channel status that only the search
  // itself (and the exit from fixed-current mode) reads, so before the first search it is 0, and
  // after a search that found no channel switched on it stays 0 whatever is plugged in since. The
  // search reads the status afresh, and its end tells when no channel is switched on.
  // The buttons change before the task starts: its first step notifies at once.
  search_->setVisible(!start);
  stopSearch_->setVisible(start);
  context_.startTask(start ? TASK_HART_SEARCH : TASK_MEASURE);
}

void HartDevicePanel::pnHartSearchClick() {
  ClearDevice();
  selCh_ = -1;
  StartStopSearch(!search_->isHidden());
}

void HartDevicePanel::ShowSearchProgress(const TDev& dev) {
  for (int ch = 0; ch < 4; ++ch) {
    const THartDev& device = dev.hart[ch];
    if (!device.found) continue;
    state_[ch]->hide();
    stateOn_[ch]->show();
    enableTree(selectors_[ch], true);
    badAdr_[ch]->setVisible(device.pollingAddress != 0 || device.outputType != 1);
  }
  const int32_t ch = dev.hartCh;
  if (validChannel(ch) && !dev.hart[ch].found) {
    stateOn_[ch]->hide();
    state_[ch]->setText(QStringLiteral("поиск %1 ...").arg(dev.hartPollAdr));
    state_[ch]->show();
  }
  if (dev.retCode == RETCODE_HART_DEVICE_FOUND && validChannel(ch)) {
    stateOn_[ch]->hide();
    state_[ch]->setText(QStringLiteral("чтение") +
                        progressDots(kReadRequests, static_cast<int>(dev.hartProgress)));
    state_[ch]->show();
  }
  if (dev.retCode == RETCODE_HART_WRITTEN) warningScan(dev);
}

void HartDevicePanel::warningScan(const TDev& dev) {
  // Every channel is looked at, so that both warnings show when both apply and every found device
  // stays selectable.
  bool addressWarning = false;
  bool currentWarning = false;
  for (int ch = 0; ch < 4; ++ch) {
    const THartDev& device = dev.hart[ch];
    const bool found = device.found != 0;
    enableTree(selectors_[ch], found);
    stateOn_[ch]->setVisible(found);
    state_[ch]->hide();
    if (!found) continue;
    if (device.pollingAddress != 0)
      addressWarning = true;
    else if (device.outputType != 1)
      currentWarning = true;
  }
  search_->show();
  stopSearch_->hide();
  attentionAdr_->setVisible(addressWarning);
  attentionI_->setVisible(currentWarning);
}

void HartDevicePanel::Sel_Ch_Click(int tag) {
  TDev* dev = context_.dev();
  if (!dev || tag < 1 || tag > 4) return;
  selCh_ = tag - 1;
  ShowDevice(dev->hart[selCh_]);
  colourSelectors(selCh_);
}

// ---- Operations -----------------------------------------------------------------------------------

void HartDevicePanel::pnHartWriteClick() {
  TDev* dev = context_.dev();
  if (!dev) return;
  WriteParamsToDev(*dev);
  if (dev->hartWrLower > dev->hartWrUpper) {
    // A downward range is asked for before the device takes it; "Нет" keeps the panel as it is.
    ZDialog& window = context_.messageWindow();
    window.showAndWait(QString::fromUtf8(quarn::data::kDescendingRangeQuestion), true,
                       QStringLiteral("HART"));
    if (window.modalResult() != ZDialog::kResultOk) return;
  }
  ClearDevice();
  enableTree(write_, false);
  enableTree(repair_, false);
  dev->hartCh = selCh_;
  context_.startTask(TASK_HART_WRITE);
}

void HartDevicePanel::btn_Recovery() {
  TDev* dev = context_.dev();
  if (!dev) return;
  ClearDevice();
  enableTree(write_, false);
  enableTree(repair_, false);
  dev->hartCh = selCh_;
  context_.startTask(TASK_HART_REPAIR_MAN);
}

void HartDevicePanel::pnSet_0Click() {
  enableTree(set0_, false);
  taskCh_ = selCh_;
  context_.startTask(TASK_HART_SET_0, &taskCh_);
}

void HartDevicePanel::pnHartResetClick() {
  enableTree(reset_, false);
  taskCh_ = selCh_;
  context_.startTask(TASK_HART_RESET, &taskCh_);
}

// ---- Refresh --------------------------------------------------------------------------------------

void HartDevicePanel::RefreshFromDev(TDev& dev) {
  const uint32_t task = dev.task;
  const uint32_t retCode = dev.retCode;
  const uint32_t event = dev.event;
  const bool hartInput = dev.sensorType == kHartInputType;
  // A task started while the connection is being set up would abandon the settings read.
  const bool canSearch = dev.kestoDataValid != 0 && hartInput && !context_.connecting();
  const bool canAct = task == TASK_MEASURE && selCh_ >= 0 && hartInput;
  const QString run = context_.runActive() ? WorkstationContext::runLockReason() : QString();
  hart::enableJob(search_, canSearch, run);
  for (LabelPanel* b : {set0_, reset_, write_, repair_}) hart::enableJob(b, canAct, run);

  if (task == TASK_HART_SEARCH) {
    ShowSearchProgress(dev);
    if (event == EVENT_HART_SEARCH_DONE && validChannel(dev.hartFirstCh))
      ShowDevice(dev.hart[dev.hartFirstCh]);
  } else if (!stopSearch_->isHidden()) {
    // The search ended without its end report (a channel select failed, the link was lost): the
    // start button, the devices found so far and the warnings come back as at a search's end.
    warningScan(dev);
  }
  if (task == TASK_HART_WRITE) {
    rec_->setText(QStringLiteral("запись ") +
                  progressDots(kWriteRequests, static_cast<int>(dev.hartProgress)));
    rec_->show();
    if (retCode == RETCODE_HART_WRITTEN) {
      ShowSearchProgress(dev);
      if (validChannel(selCh_)) ShowDevice(dev.hart[selCh_]);
    }
  } else if (task == TASK_HART_REPAIR_MAN) {
    rec_->setText(QStringLiteral("восстановление ") +
                  progressDots(kWriteRequests, static_cast<int>(dev.hartProgress)));
    rec_->show();
    if (retCode == RETCODE_HART_INFO_READ && validChannel(selCh_)) ShowDevice(dev.hart[selCh_]);
  } else {
    rec_->hide();
  }

  if (retCode == RETCODE_HART_ZERO_FAILED) Q_EMIT message(QStringLiteral("ОШИБКА подстройки нуля !"));
  if (retCode == RETCODE_HART_RESTORE_NO_DEVICE) Q_EMIT message(QStringLiteral("ОШИБКА восстановления !"));

  if (event == EVENT_HART_SEARCH_DONE) {
    bool channelOn = false;
    for (uint8_t skip : dev.chSkip) channelOn = channelOn || skip == 0;
    if (!channelOn) Q_EMIT message(QStringLiteral("Нет подключенных устройств!"));
    warningScan(dev);
    if (validChannel(dev.hartFirstCh)) Sel_Ch_Click(dev.hartFirstCh + 1);
  }
  if (event == EVENT_HART_ZERO_DONE) {
    const int32_t ch = validChannel(taskCh_) ? taskCh_ : selCh_;
    if (validChannel(ch)) {
      const THartVar& pv = dev.hart[ch].dynVar[0];
      const float value = pv.value;
      Q_EMIT message(
          QStringLiteral("Подстройка нуля выполнена успешно. \r\n \r\nЗначение первой переменной:  ") +
          formatValue(value, 4) + QStringLiteral(" ") + hart::libraryText(pv.unitsText));
    }
  }
}

void HartDevicePanel::lockJobs(const QString& reason) {
  for (LabelPanel* b : {search_, set0_, reset_, write_, repair_}) hart::enableJob(b, false, reason);
}

}  // namespace arm
