#include "ParametersScreen.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QStackedLayout>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "CalibratorCatalogue.h"
#include "ChannelRules.h"
#include "DeviceGrid.h"
#include "DeviceGridRows.h"
#include "DialogUDiap.h"
#include "EditableListView.h"
#include "FormPersistence.h"
#include "IniValues.h"
#include "PanelButton.h"
#include "ParamsCheck.h"
#include "PointList.h"
#include "ProjectController.h"
#include "ProjectFile.h"
#include "ProjectToDev.h"
#include "Prompts.h"
#include "RecordTexts.h"
#include "TDev.h"
#include "TDevValues.h"
#include "UiHelpers.h"
#include "ZDialog.h"
#include "protocol_fields.h"

namespace arm {

namespace data = quarn::data;

namespace {

// Library notifications this screen reacts to.
constexpr uint32_t kEventSettingsRead = EVENT_SETTINGS_READ;
constexpr uint32_t kEventHartSearchDone = EVENT_HART_SEARCH_DONE;
constexpr uint32_t kEventHartInfoRead = EVENT_HART_INFO_READ;
constexpr uint32_t kResultHartWritten = RETCODE_HART_WRITTEN;

const QColor kDark(73, 86, 119);
const QColor kErrorRed(200, 0, 0);

QString fromUtf8(const std::string& s) { return QString::fromStdString(s); }

std::vector<std::string> lines(const QPlainTextEdit* memo) {
  std::vector<std::string> out;
  QString text = memo->toPlainText();
  if (text.isEmpty()) return out;
  if (text.endsWith(QLatin1Char('\n'))) text.chop(1);
  for (const QString& l : text.split(QLatin1Char('\n'))) out.push_back(l.toStdString());
  return out;
}

// Relay values in their edit boxes: as short as the number allows.
QString numberText(float v) { return QString::fromStdString(data::pointValueText(v)); }

QLabel* caption(const QString& text, QWidget* parent) {
  auto* l = new QLabel(text, parent);
  return l;
}

}  // namespace

ParametersScreen::ParametersScreen(WorkstationContext& context, QWidget* parent)
    : Screen(context, QStringLiteral("Frame_Mode_3_Param1"), parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(10, 8, 10, 6);
  layout->setSpacing(6);

  // Tabs: one page shown, the others hidden.
  const char* tabNames[kPageCount] = {"st_I", "st_D", "st_P", "st_R", "st_MP"};
  const char* tabCaptions[kPageCount] = {"Датчики", "Протокол ", "Точки поверки", "Тест реле",
                                         "Методики измерений"};
  auto* tabRow = new QHBoxLayout;
  tabRow->setSpacing(4);
  for (int i = 0; i < kPageCount; ++i) {
    auto* tab = new PanelButton(QString::fromLatin1(tabNames[i]), QString::fromUtf8(tabCaptions[i]), i, this);
    tab->setMinimumHeight(30);
    tab->setMinimumWidth(166);
    QFont f = tab->font();
    f.setBold(true);
    tab->setFont(f);
    connect(tab, &PanelButton::mouseDown, this, [this, i] { showPage(i); });
    tabs_[static_cast<std::size_t>(i)] = tab;
    tabRow->addWidget(tab);
  }
  tabRow->addStretch(1);
  layout->addLayout(tabRow);

  const char* pageNames[kPageCount] = {"Panel_1_Sens", "Panel_2_Dep", "Panel_3_Pionts", "Panel_4_Relay",
                                       "Panel_MP"};
  pageStack_ = new QStackedLayout;
  for (int i = 0; i < kPageCount; ++i) {
    auto* page = new QWidget(this);
    page->setObjectName(QString::fromLatin1(pageNames[i]));
    pages_[static_cast<std::size_t>(i)] = page;
  }
  // Built in this order so that the report's placeholder controls come in the report's order, the
  // readiness coefficient first.
  buildSensorsPage(pages_[0]);
  buildPointsPage(pages_[2]);
  buildProtocolPage(pages_[1]);
  buildRelayPage(pages_[3]);
  buildMethodsPage(pages_[4]);
  for (QWidget* page : pages_) pageStack_->addWidget(page);
  layout->addLayout(pageStack_, 1);

  projectName_ = new QLabel(QStringLiteral("Файл проекта: "), this);
  projectName_->setObjectName(QStringLiteral("lab_prjName"));
  projectName_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(projectName_);

  connect(&context, &WorkstationContext::runStateChanged, this,
          [this](bool running) { setPagesEnabled(!running); });
  connect(&context.project(), &ProjectController::fileNameChanged, this, [this] { showProjectName(); });
  // The settings screen sets the calibrator's working limits after it has shown a settings read (it
  // refreshes after this screen): the range check must see them.
  connect(&context, &WorkstationContext::calibratorSettingsShown, this, [this] { ParamsToDev(); });
  showPage(0);
  showProjectName();
  afterBinding(record());
  // The project starts as the screen shows it (today's date, the standard points).
  ParamsToDev();
}

ParametersScreen::~ParametersScreen() = default;

TDev& ParametersScreen::record() {
  if (TDev* dev = context().dev()) return *dev;
  if (!ownRecord_) {
    ownRecord_ = std::make_unique<TDev>();
    std::memset(ownRecord_.get(), 0, sizeof(TDev));
    ownRecord_->settings.unitFactor = 1;
    ownRecord_->settings.unitFactorInv = 1;
  }
  return *ownRecord_;
}

QLineEdit* ParametersScreen::edit(const QString& name, QWidget* parent, bool numeric) {
  auto* e = new QLineEdit(parent);
  e->setObjectName(name);
  if (numeric) NumericKeyFilter::install(e);
  // Every key press changes the project, and the record follows the screen at once (the readiness
  // boxes turn red for a value the run cannot use).
  connect(e, &QLineEdit::textEdited, this, [this] {
    markModified();
    ParamsToDev();
  });
  return e;
}

// ---- Pages --------------------------------------------------------------------------------------

void ParametersScreen::buildSensorsPage(QWidget* page) {
  auto* v = new QVBoxLayout(page);
  v->setContentsMargins(0, 4, 0, 0);
  grid_ = new DeviceGrid(page);
  grid_->clicked = [this](int channel) { gridChanged(channel, false); };
  grid_->edited = [this](int row, const QString& text, int channel) { gridCellEdited(row, text, channel); };
  const int rowHeight = grid_->view()->sizeHintForRow(0) > 0 ? grid_->view()->sizeHintForRow(0) : 24;
  grid_->setFixedHeight(rowHeight * data::kDeviceGridRows + grid_->view()->header()->sizeHint().height() + 8);
  v->addWidget(grid_);
  duplicate_ = new QCheckBox(QStringLiteral("Дублировать изненения для всех каналов"), page);
  duplicate_->setObjectName(QStringLiteral("cbDoSetToAll"));
  connect(duplicate_, &QCheckBox::clicked, this, [this] {
    markModified();
    ParamsToDev();
  });
  v->addWidget(duplicate_);
  labErr_ = new QLabel(page);
  labErr_->setObjectName(QStringLiteral("labErr"));
  QFont f = labErr_->font();
  f.setBold(true);
  f.setPointSize(f.pointSize() + 2);
  labErr_->setFont(f);
  QPalette p = labErr_->palette();
  p.setColor(QPalette::WindowText, kErrorRed);
  labErr_->setPalette(p);
  v->addWidget(labErr_);
  v->addStretch(1);
}

void ParametersScreen::buildPointsPage(QWidget* page) {
  auto* h = new QHBoxLayout(page);
  h->setContentsMargins(0, 4, 0, 0);
  // The readiness coefficient first: the report lists its placeholder before the others.
  vrCoeff_ = edit(QStringLiteral("amp_CD_VRCOEFF"), page, true);
  points_ = new PointList(page);
  points_->changed = [this](int) {
    markModified();
    ParamsToDev();
  };
  points_->refused = [this](const QString& reason) {
    context().messageWindow().showMessage(reason, false, QStringLiteral("Точки поверки"));
  };
  points_->setFixedWidth(56 + 56 + 110 + 130 + 24);
  h->addWidget(points_);
  h->addSpacing(16);

  auto* side = new QGridLayout;
  side->setVerticalSpacing(8);
  hardMode_ = new QCheckBox(page);
  hardMode_->setObjectName(QStringLiteral("cbHardMode"));
  connect(hardMode_, &QCheckBox::clicked, this, [this] {
    markModified();
    ParamsToDev();
  });
  auto* hardText =
      new PanelButton(QStringLiteral("lab_HardMode"),
                      QStringLiteral("Для принятия точки все приборы должы быть в допуске."), 0, page);
  hardText->setFrameShape(QFrame::NoFrame);
  hardText->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  hardText->setWordWrap(true);
  hardText->setColours(background(), Qt::black);
  // The text beside the box toggles it as well.
  connect(hardText, &PanelButton::mouseDown, this, [this] {
    hardMode_->setChecked(!hardMode_->isChecked());
    Q_EMIT hardMode_->clicked(hardMode_->isChecked());
  });
  side->addWidget(hardMode_, 0, 0, Qt::AlignTop);
  side->addWidget(hardText, 0, 1, 1, 2);
  band_ = edit(QStringLiteral("ed_d_Rdy"), page, true);
  hold_ = edit(QStringLiteral("ed_tRdy"), page, true);
  band_->setText(QString::fromStdString(data::ReadinessSettings{}.bandPrc));
  hold_->setText(QString::fromStdString(data::ReadinessSettings{}.holdTimeS));
  vrCoeff_->setText(QString::fromStdString(data::ReadinessSettings{}.vrCoeff));
  side->addWidget(caption(QStringLiteral("Коридор готовности, %"), page), 1, 1);
  side->addWidget(band_, 1, 2);
  side->addWidget(caption(QStringLiteral("Время готовности, сек."), page), 2, 1);
  side->addWidget(hold_, 2, 2);
  side->addWidget(caption(QStringLiteral("Коэфф. для анализа"), page), 3, 1);
  side->addWidget(vrCoeff_, 3, 2);
  for (QLineEdit* e : {band_, hold_, vrCoeff_}) e->setFixedWidth(110);
  hardText->setFixedWidth(360);
  side->setRowStretch(4, 1);
  side->setColumnStretch(3, 1);
  h->addLayout(side, 1);
}

void ParametersScreen::buildProtocolPage(QWidget* page) {
  auto* g = new QGridLayout(page);
  g->setContentsMargins(0, 4, 0, 0);
  g->setHorizontalSpacing(10);
  g->setVerticalSpacing(4);

  auto* top = new QHBoxLayout;
  top->setSpacing(6);
  protocolNo_ = edit(QStringLiteral("amp_D1_SH_NUM"), page);
  date_ = edit(QStringLiteral("amp_CD_DATE"), page);
  // The protocol is dated the day the program started, whatever project is opened.
  date_->setText(fromUtf8(data::protocolDate(QDateTime::currentSecsSinceEpoch())));
  date_->setMaximumWidth(110);
  top->addWidget(caption(QStringLiteral(" № протокола"), page));
  top->addWidget(protocolNo_, 1);
  top->addSpacing(16);
  top->addWidget(caption(QStringLiteral("Дата"), page));
  top->addWidget(date_);
  g->addLayout(top, 0, 0, 1, 2);

  auto* conditions = new QGroupBox(QStringLiteral(" Условия "), page);
  auto* c = new QGridLayout(conditions);
  temp_ = edit(QStringLiteral("amp_CD_TEMP"), conditions, true);
  hum_ = edit(QStringLiteral("amp_CD_HUM"), conditions, true);
  pres_ = edit(QStringLiteral("amp_CD_PRES"), conditions, true);
  c->addWidget(caption(QStringLiteral("Темп. окр. воздуха, °С"), conditions), 0, 0);
  c->addWidget(temp_, 0, 1);
  c->addWidget(caption(QStringLiteral("Отн. влажность, %"), conditions), 1, 0);
  c->addWidget(hum_, 1, 1);
  c->addWidget(caption(QStringLiteral("Атм. давление, мм рт.ст."), conditions), 2, 0);
  c->addWidget(pres_, 2, 1);
  ivtmSerial_ = edit(QStringLiteral("ed_IVTM_SN"), conditions);
  c->addWidget(caption(QStringLiteral("ИВТМ-7M сер. номер"), conditions), 3, 0);
  c->addWidget(ivtmSerial_, 3, 1);
  readIvtm_ =
      new PanelButton(QStringLiteral("pnRead_IVTM"), QStringLiteral("Считать °С, %, p"), 0, conditions);
  readIvtm_->setColours(kDark, Qt::white);
  readIvtm_->setMinimumHeight(26);
  connect(readIvtm_, &PanelButton::mouseDown, this, &ParametersScreen::ReadIvtm);
  c->addWidget(readIvtm_, 4, 0, 1, 2);
  showHygrometerReader();
  g->addWidget(conditions, 1, 0);

  auto* kind = new QGroupBox(QStringLiteral(" Тип "), page);
  auto* k = new QVBoxLayout(kind);
  const char* kindNames[3] = {"RadioButton1", "rb_IsPeriodic", "rb_IsCalib"};
  const char* kindCaptions[3] = {"первичная поверка", "периодическая", "калибровка"};
  for (int i = 0; i < 3; ++i) {
    auto* rb = new QRadioButton(QString::fromUtf8(kindCaptions[i]), kind);
    rb->setObjectName(QString::fromLatin1(kindNames[i]));
    rb->setChecked(i == 0);
    connect(rb, &QRadioButton::clicked, this, [this] {
      markModified();
      ParamsToDev();
    });
    kind_[static_cast<std::size_t>(i)] = rb;
    k->addWidget(rb);
  }
  auto* digits = new QHBoxLayout;
  decimals_ = new QComboBox(kind);
  decimals_->setObjectName(QStringLiteral("cb_cDigits"));
  for (int i = 0; i <= 6; ++i) decimals_->addItem(QString::number(i));
  decimals_->setCurrentIndex(3);
  connect(decimals_, &QComboBox::activated, this, [this] {
    markModified();
    ParamsToDev();
  });
  digits->addWidget(caption(QStringLiteral("Знаков в таблице результатов"), kind));
  digits->addWidget(decimals_);
  k->addLayout(digits);
  brenkClass_ = new QComboBox(kind);
  brenkClass_->setObjectName(QStringLiteral("cb_Class_Brenk"));
  brenkClass_->addItems({QStringLiteral("А0"), QStringLiteral("A"), QStringLiteral("B")});
  brenkClass_->hide();  // kept in the project only
  k->addStretch(1);
  g->addWidget(kind, 1, 1);

  auto* org = new QGroupBox(QStringLiteral("  Организация  "), page);
  auto* o = new QGridLayout(org);
  organisation_ = edit(QStringLiteral("amp_CD_ORG"), org);
  accreditation_ = edit(QStringLiteral("amp_CD_CRT_NUM"), org);
  address_ = new QPlainTextEdit(org);
  address_->setObjectName(QStringLiteral("amp_CD_ADDRESS"));
  address_->setMaximumHeight(48);
  connect(address_, &QPlainTextEdit::textChanged, this, [this] {
    if (!address_->hasFocus()) return;
    markModified();
    ParamsToDev();
  });
  o->addWidget(caption(QStringLiteral("Наименование"), org), 0, 0);
  o->addWidget(organisation_, 0, 1);
  o->addWidget(caption(QStringLiteral("№ сертификата аккредитации"), org), 1, 0);
  o->addWidget(accreditation_, 1, 1);
  o->addWidget(caption(QStringLiteral("Адрес"), org), 2, 0, Qt::AlignTop);
  o->addWidget(address_, 2, 1);
  g->addWidget(org, 2, 0, 1, 2);

  auto* equipment = new QGroupBox(QStringLiteral("  Эталоны и оборудование  "), page);
  auto* e = new QGridLayout(equipment);
  calibratorLine_ = new QLineEdit(equipment);
  calibratorLine_->setObjectName(QStringLiteral("ed_Quarn_SN"));
  calibratorLine_->setReadOnly(true);
  auxEquipment_ = new QPlainTextEdit(equipment);
  auxEquipment_->setObjectName(QStringLiteral("CD_ET_AUX_LST"));
  auxEquipment_->setMaximumHeight(48);
  connect(auxEquipment_, &QPlainTextEdit::textChanged, this, [this] {
    if (!auxEquipment_->hasFocus()) return;
    markModified();
    ParamsToDev();
  });
  e->addWidget(caption(QStringLiteral("Калибратор"), equipment), 0, 0);
  e->addWidget(calibratorLine_, 0, 1);
  e->addWidget(caption(QStringLiteral("Другие эталоны и\nвспомогательное оборудование"), equipment), 1, 0,
               Qt::AlignTop);
  e->addWidget(auxEquipment_, 1, 1);
  g->addWidget(equipment, 3, 0, 1, 2);

  auto* verifier = new QGroupBox(QStringLiteral("  Поверитель  "), page);
  auto* vl = new QGridLayout(verifier);
  verifierPos_ = edit(QStringLiteral("amp_CD_VERIF_POS"), verifier);
  verifier_ = edit(QStringLiteral("amp_CD_VERIF"), verifier);
  vl->addWidget(caption(QStringLiteral("должность"), verifier), 0, 0);
  vl->addWidget(verifierPos_, 0, 1);
  vl->addWidget(caption(QStringLiteral("фамилия, имя, отчество"), verifier), 1, 0);
  vl->addWidget(verifier_, 1, 1);
  g->addWidget(verifier, 4, 0);

  auto* chief = new QGroupBox(QStringLiteral("  Руководитель  "), page);
  auto* cl = new QGridLayout(chief);
  chiefPos_ = edit(QStringLiteral("amp_CD_CHEF_POS"), chief);
  chief_ = edit(QStringLiteral("amp_CD_CHEF"), chief);
  cl->addWidget(caption(QStringLiteral("должность"), chief), 0, 0);
  cl->addWidget(chiefPos_, 0, 1);
  cl->addWidget(caption(QStringLiteral("фамилия, имя, отчество"), chief), 1, 0);
  cl->addWidget(chief_, 1, 1);
  g->addWidget(chief, 4, 1);

  auto* tmpl = new QGroupBox(QStringLiteral("  Шаблон протокола  "), page);
  auto* t = new QGridLayout(tmpl);
  templatePath_ = new QLabel(tmpl);
  templatePath_->setObjectName(QStringLiteral("labTemplatePath"));
  templateNameEdit_ = new QLineEdit(tmpl);
  templateNameEdit_->setObjectName(QStringLiteral("edTemplateName"));
  // The name comes with the choice of a file (the button); typed, it would name no file.
  templateNameEdit_->setReadOnly(true);
  auto* open = new PanelButton(QStringLiteral("pbTemplateOpen"), QStringLiteral("Выбрать..."), 0, tmpl);
  open->setColours(kDark, Qt::white);
  open->setMinimumSize(110, 26);
  connect(open, &PanelButton::mouseDown, this, &ParametersScreen::pbTemplateOpenClick);
  t->addWidget(templatePath_, 0, 0, 1, 2);
  t->addWidget(templateNameEdit_, 1, 0);
  t->addWidget(open, 1, 1);
  g->addWidget(tmpl, 5, 0, 1, 2);
  g->setRowStretch(6, 1);
  g->setColumnStretch(0, 3);
  g->setColumnStretch(1, 2);
}

void ParametersScreen::buildRelayPage(QWidget* page) {
  auto* g = new QGridLayout(page);
  g->setContentsMargins(0, 8, 0, 0);
  g->setHorizontalSpacing(12);
  g->setVerticalSpacing(8);
  const data::RelaySettings defaults;
  for (int i = 0; i < 2; ++i) {
    auto* on = new QCheckBox(QStringLiteral("Реле %1").arg(i + 1), page);
    on->setObjectName(QStringLiteral("cbRelay_%1").arg(i + 1));
    connect(on, &QCheckBox::clicked, this, [this] {
      markModified();
      ParamsToDev();
    });
    relayOn_[static_cast<std::size_t>(i)] = on;
    relayP_[static_cast<std::size_t>(i)] = edit(QStringLiteral("edRelay%1_P").arg(i + 1), page, true);
    relayHyst_[static_cast<std::size_t>(i)] = edit(QStringLiteral("edRelay%1_Hyst").arg(i + 1), page, true);
    relayP_[static_cast<std::size_t>(i)]->setText(
        fromUtf8(defaults.setpointKpa[static_cast<std::size_t>(i)]));
    relayHyst_[static_cast<std::size_t>(i)]->setText(
        fromUtf8(defaults.hysteresisKpa[static_cast<std::size_t>(i)]));
    const int row = i * 2;
    g->addWidget(on, row, 0, 2, 1);
    g->addWidget(caption(QStringLiteral("Уставка, кПа "), page), row, 1);
    g->addWidget(relayP_[static_cast<std::size_t>(i)], row, 2);
    g->addWidget(caption(QStringLiteral("Гистерезис, кПа "), page), row + 1, 1);
    g->addWidget(relayHyst_[static_cast<std::size_t>(i)], row + 1, 2);
    relayP_[static_cast<std::size_t>(i)]->setMaximumWidth(120);
    relayHyst_[static_cast<std::size_t>(i)]->setMaximumWidth(120);
  }
  relaySpeedPanel_ = new QFrame(page);
  relaySpeedPanel_->setObjectName(QStringLiteral("Panel_RelaySpeedTest"));
  auto* s = new QHBoxLayout(relaySpeedPanel_);
  s->setContentsMargins(0, 0, 0, 0);
  relaySpeed_ = edit(QStringLiteral("edRelay_speed"), relaySpeedPanel_, true);
  relaySpeed_->setText(fromUtf8(defaults.speed));
  relaySpeed_->setMaximumWidth(120);
  auto* maxSpeed = new QLabel(relaySpeedPanel_);
  maxSpeed->setObjectName(QStringLiteral("lab_MaxSpeed"));
  s->addWidget(caption(QStringLiteral("Скорость проверки, кПа /сек"), relaySpeedPanel_));
  s->addWidget(relaySpeed_);
  s->addWidget(maxSpeed);
  s->addStretch(1);
  g->addWidget(relaySpeedPanel_, 4, 0, 1, 4);
  g->setColumnStretch(3, 1);
  g->setRowStretch(5, 1);
}

void ParametersScreen::buildMethodsPage(QWidget* page) {
  auto* v = new QVBoxLayout(page);
  v->setContentsMargins(0, 4, 0, 0);
  methods_ = new QTableWidget(data::kMethodRows, 2, page);
  methods_->setObjectName(QStringLiteral("sg_MP"));
  methods_->setHorizontalHeaderLabels(
      {QStringLiteral("Название прибора"), QStringLiteral("Обозначение документа")});
  methods_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Interactive);
  methods_->setColumnWidth(0, 300);
  methods_->horizontalHeader()->setStretchLastSection(true);
  QStringList numbers;
  for (int r = 0; r < data::kMethodRows; ++r) numbers << QString::number(r);
  methods_->setVerticalHeaderLabels(numbers);
  // The list is written with the next project save: a change must make the closing question ask.
  showMethods(data::MethodList{});
  connect(methods_, &QTableWidget::itemChanged, this, [this] {
    markModified();
    ParamsToDev();
  });
  v->addWidget(methods_);
}

// ---- Pages and tabs -----------------------------------------------------------------------------

void ParametersScreen::showPage(int page) {
  if (page < 0 || page >= kPageCount) return;
  pageStack_->setCurrentIndex(page);
  for (int i = 0; i < kPageCount; ++i) {
    PanelButton* tab = tabs_[static_cast<std::size_t>(i)];
    if (i == page)
      tab->setColours(background(), Qt::black);
    else
      tab->setColours(kDark, Qt::white);
    tab->setLowered(i == page);
  }
}

int ParametersScreen::currentPage() const { return pageStack_->currentIndex(); }

void ParametersScreen::setPagesEnabled(bool enabled) {
  // The pages feed the run: while it is under way they say so instead of taking edits.
  const QString reason = enabled ? QString() : WorkstationContext::runLockReason();
  for (QWidget* page : pages_) {
    enableTree(page, enabled);
    page->setToolTip(reason);
  }
  showHygrometerReader();
}

void ParametersScreen::setHygrometerReader(HygrometerReader reader) {
  hygrometer_ = std::move(reader);
  showHygrometerReader();
}

void ParametersScreen::showHygrometerReader() {
  // Without a reader the button cannot do anything: it is disabled and says why.
  if (!hygrometer_) {
    enableTree(readIvtm_, false);
    readIvtm_->setToolTip(
        QStringLiteral("Чтение гигрометра ИВТМ-7M недоступно: нет библиотеки EksisExchange "
                       "на этом компьютере. Введите условия вручную."));
    return;
  }
  readIvtm_->setToolTip(QStringLiteral("Считать температуру, влажность и давление с гигрометра ИВТМ-7M"));
  if (readIvtm_->parentWidget()->isEnabled()) enableTree(readIvtm_, true);
}

// ---- Record -------------------------------------------------------------------------------------

void ParametersScreen::readWidgetsInto(data::Project& p) const {
  data::ProtocolHeader& h = p.header;
  h.protocolNo = protocolNo_->text().toStdString();
  h.date = date_->text().toStdString();
  h.temp = temp_->text().toStdString();
  h.hum = hum_->text().toStdString();
  h.pres = pres_->text().toStdString();
  h.ivtmSerial = ivtmSerial_->text().toStdString();
  h.organisation = organisation_->text().toStdString();
  h.accreditationNo = accreditation_->text().toStdString();
  h.address = lines(address_);
  h.auxEquipment = lines(auxEquipment_);
  h.verifierPosition = verifierPos_->text().toStdString();
  h.verifier = verifier_->text().toStdString();
  h.chiefPosition = chiefPos_->text().toStdString();
  h.chief = chief_->text().toStdString();
  h.kind = kind_[1]->isChecked()   ? data::ProtocolKind::Periodic
           : kind_[2]->isChecked() ? data::ProtocolKind::Calibration
                                   : data::ProtocolKind::Primary;
  h.resultDecimals = std::max(decimals_->currentIndex(), 0);
  h.brenkClass = std::max(brenkClass_->currentIndex(), 0);
  p.readiness.holdTimeS = hold_->text().toStdString();
  p.readiness.bandPrc = band_->text().toStdString();
  p.readiness.vrCoeff = vrCoeff_->text().toStdString();
  p.readiness.hardMode = hardMode_->isChecked();
  for (std::size_t i = 0; i < 2; ++i) {
    p.relay.enabled[i] = relayOn_[i]->isChecked();
    p.relay.setpointKpa[i] = relayP_[i]->text().toStdString();
    p.relay.hysteresisKpa[i] = relayHyst_[i]->text().toStdString();
  }
  p.relay.speed = relaySpeed_->text().toStdString();
  p.duplicateToAll = duplicate_->isChecked();
  p.reportTemplate.folder = templateFolder_.toStdString();
  p.reportTemplate.name = templateName_.toStdString();
  p.selectedSet = points_->selectedSet();
}

void ParametersScreen::ParamsToDev() {
  // A project being shown runs the controls' handlers; the loaded project is applied once it is on
  // the screen.
  if (loading_) return;
  data::Project& project = context().project().model();
  readWidgetsInto(project);
  for (int ch = 0; ch < data::kChannelCount; ++ch) GridToDev(ch);
  project.pointSets = points_->sets();
  project.selectedSet = points_->selectedSet();
  project.methods = methods();
  // The project into the record as quarn-cli applies it: header, readiness, channels, relays, the
  // check, and the readiness bands for the range just checked.
  showCheck(context().project().applyToRecord(record()));
}

void ParametersScreen::GridToDev(int channel) {
  if (channel < 0 || channel >= data::kChannelCount) return;
  TDevChannel& ch = record().devCh[channel];
  data::deviceGridToChannel(grid_->column(channel), ch);
  context().project().model().channels[static_cast<std::size_t>(channel)] = data::channelFromDev(ch);
}

void ParametersScreen::DevToGrid(int channel) {
  if (channel < 0 || channel >= data::kChannelCount) return;
  grid_->showColumn(channel, data::deviceGridColumn(record().devCh[channel]));
}

void ParametersScreen::showHartChannel(int channel, bool switchOn) {
  if (channel < 0 || channel >= data::kChannelCount) return;
  TDev& dev = record();
  TDevChannel& ch = dev.devCh[channel];
  if (dev.hart[channel].found) {
    const std::string code = data::modelByType(recordText(ch.name).toStdString(), ch.MaxKpa);
    // With no family for the device the model stays as it was typed.
    if (!code.empty()) data::copyTextField(ch.model, sizeof ch.model, code);
    ch.errOk = 0.2f;
    if (switchOn) ch.enabled = 1;
  }
  DevToGrid(channel);
}

void ParametersScreen::DevToParams() {
  TDev& dev = record();
  for (int ch = 0; ch < data::kChannelCount; ++ch) DevToGrid(ch);
  for (std::size_t i = 0; i < 2; ++i) {
    relayOn_[i]->setChecked(dev.relayOn[i] != 0);
    relayP_[i]->setText(numberText(dev.relayP[i]));
    relayHyst_[i]->setText(numberText(dev.relayHyst[i]));
  }
  // A long folder shows its beginning and its end.
  const QString folder = templateFolder_.size() > 50
                             ? templateFolder_.left(10) + QStringLiteral(".....") + templateFolder_.right(36)
                             : templateFolder_;
  templatePath_->setText(folder);
  templatePath_->setToolTip(templateFolder_);
  templateNameEdit_->setText(templateName_);
}

bool ParametersScreen::CheckParams() {
  ParamsToDev();
  return paramsValid();
}

bool ParametersScreen::paramsValid() const { return context().project().paramsValid(); }

void ParametersScreen::showCheck(const data::ParamsCheck& check) {
  const TDev& dev = record();
  labErr_->setText(fromUtf8(check.message));
  // The readiness band and the coefficient are painted red while the run could not use them.
  auto paint = [](QLineEdit* e, bool bad) {
    QPalette p = e->palette();
    p.setColor(QPalette::Base, bad ? QColor(255, 0, 0) : QApplication::palette().color(QPalette::Base));
    e->setPalette(p);
    e->setProperty("tooSmall", bad);
  };
  paint(band_, data::readinessValueTooSmall(dev.povHeader.dRdy));
  paint(vrCoeff_, data::readinessValueTooSmall(dev.povHeader.vrCoeff));
}

void ParametersScreen::SetReadiness() { data::setReadiness(record()); }

int ParametersScreen::signalType() const {
  const TDev* dev = context().dev() ? context().dev() : ownRecord_.get();
  return dev ? dev->devCh[0].elTypeSignal : 0;
}

int ParametersScreen::selectedPointSetIndex() const { return points_->selectedSet(); }

const data::PointSet& ParametersScreen::selectedPointSet() const { return points_->selectedPoints(); }

// ---- The grid's callbacks -----------------------------------------------------------------------

void ParametersScreen::gridChanged(int channel, bool markModifiedToo) {
  ParamsToDev();
  TDev& dev = record();
  // The point list shows its values in the display unit.
  const float factor =
      std::isfinite(dev.settings.unitFactor) && dev.settings.unitFactor > 0 ? dev.settings.unitFactor : 1.0f;
  points_->setRange(dev.povLo * factor, (dev.povLo + dev.povSpan) * factor);
  const int c = channel >= 0 && channel < data::kChannelCount ? channel : 0;
  Q_EMIT context().signalTypeChanged(dev.devCh[c].elTypeSignal);
  if (markModifiedToo) markModified();
}

void ParametersScreen::gridCellEdited(int row, const QString& text, int channel) {
  if (channel < 0 || channel >= data::kChannelCount) return;
  TDev& dev = record();
  if ((row == data::kRowMax || row == data::kRowMin) && dev.devCh[channel].enabled) {
    // A downward range (Pн above Pв) is verified as such, but is more often a slip: it is asked for.
    const float typed = data::parseGridNumber(text.toStdString());
    const float min = row == data::kRowMin ? typed : dev.devCh[channel].Min;
    const float max = row == data::kRowMax ? typed : dev.devCh[channel].Max;
    if (min > max && !confirmDescendingRange()) {
      DevToGrid(channel);
      return;
    }
  }
  markModified();
  if (row == data::kRowEnabled) {
    dev.devCh[channel].enabled = text.trimmed() == QString::fromUtf8(data::kChannelOnText) ? 1 : 0;
    DevToGrid(channel);
    if (dev.devCh[channel].enabled) GridToDev(channel);
    gridChanged(channel, true);
    return;
  }
  if (row == data::kRowSignal) {
    const int type = data::listPosition(text.toStdString(), data::kSignalTypeNames, data::kSignalTypeCount);
    float voltMin = dev.devCh[channel].el_Min;
    float voltMax = dev.devCh[channel].el_Max;
    if (type == data::kSignalVoltage) {
      DialogUDiap& dialog = context().voltageDialog();
      if (dialog.exec() != QDialog::Accepted) {
        // Cancelled: nothing changes, the cell shows the type the channel has.
        DevToGrid(channel);
        return;
      }
      voltMin = dialog.lower();
      voltMax = dialog.upper();
      for (TDevChannel& ch : dev.devCh) {
        ch.el_Min = voltMin;
        ch.el_Max = voltMax;
      }
    }
    if (type >= 0 && type != dev.devCh[channel].elTypeSignal) {
      if (const auto code = data::sensorTypeChange(dev, type)) {
        dev.sensorType = *code;
        context().startTask(TASK_SET_SENSOR_TYPE);
      }
      data::setSignalTypeForAll(dev, type, voltMin, voltMax);
      for (int ch = 0; ch < data::kChannelCount; ++ch)
        if (ch != channel && dev.devCh[ch].enabled) grid_->view()->SetText(data::kRowSignal, ch, text);
    }
  }
  GridToDev(channel);
  // The column shows what the record took: the number as read, a text cut to its field.
  DevToGrid(channel);
  gridChanged(channel, true);
}

void ParametersScreen::reportHartChanges(
    const TDev& dev, const std::array<data::DeviceGridColumn, data::kChannelCount>& before) {
  // The search takes the devices' own data into their channels; what that changed in the grid is
  // listed, channel by channel, so that nothing the operator entered is replaced unseen.
  QStringList lines;
  for (int ch = 0; ch < data::kChannelCount; ++ch) {
    if (!dev.hart[ch].found) continue;
    const std::vector<std::string> changes =
        data::deviceGridChanges(before[static_cast<std::size_t>(ch)], grid_->column(ch));
    if (changes.empty()) continue;
    QStringList parts;
    for (const std::string& c : changes) parts << QString::fromStdString(c);
    lines << QStringLiteral("Канал %1: ").arg(ch + 1) + parts.join(QStringLiteral("; "));
  }
  if (lines.isEmpty()) return;
  context().messageWindow().showMessage(
      QStringLiteral("Поиск HART изменил параметры датчиков:\n") + lines.join(QLatin1Char('\n')), false,
      QStringLiteral("HART"));
}

bool ParametersScreen::confirmDescendingRange() {
  ZDialog& window = context().messageWindow();
  window.showAndWait(QString::fromUtf8(data::kDescendingRangeQuestion), true,
                     QStringLiteral("Параметры поверки"));
  return window.modalResult() == ZDialog::kResultOk;
}

// ---- Library events -----------------------------------------------------------------------------

void ParametersScreen::libraryEvent(TDev& dev) {
  const bool settingsRead = dev.event == kEventSettingsRead;
  bool searchDone = dev.event == kEventHartSearchDone;
  // The result code stays set over the notifications that follow: only its arrival counts.
  bool hartWritten = dev.retCode == kResultHartWritten && context().snapshot().retCode != kResultHartWritten;
  // A search reads each device it finds as it goes; what it found is taken at its end, all at once,
  // with the changes listed for the operator.
  bool infoRead = dev.event == kEventHartInfoRead && dev.task != TASK_HART_SEARCH;
  if (context().runActive() && (searchDone || hartWritten || infoRead)) {
    // The run measures the devices the grid held when it started: what a search or a read finds
    // is not taken now, and the operator is told — unless the search is a calibration's own, which
    // its panel shows as a stage of the sequence.
    if (searchDone && !context().calibrationActive())
      context().messageWindow().showMessage(
          QStringLiteral("Поиск HART во время поверки: параметры датчиков не изменены."), false,
          QStringLiteral("HART"));
    // The library has written the devices' own data (the device id as the serial) into their
    // channels of the record: the record goes back to what the grid and the project hold, or a later
    // settings read would show those in the grid as if the operator had entered them.
    for (int ch = 0; ch < data::kChannelCount; ++ch)
      if (dev.hart[ch].found) data::deviceGridToChannel(grid_->column(ch), dev.devCh[ch]);
    searchDone = hartWritten = infoRead = false;
  }
  std::array<data::DeviceGridColumn, data::kChannelCount> before;
  if (searchDone || hartWritten || infoRead)
    for (int ch = 0; ch < data::kChannelCount; ++ch) before[static_cast<std::size_t>(ch)] = grid_->column(ch);
  auto enteredSerial = [&](int ch) -> const std::string& {
    return before[static_cast<std::size_t>(ch)][data::kRowSn];
  };
  if (hartWritten || infoRead) {
    // The library wrote each found device's id into its channel's serial number: the serial the
    // operator entered stays.
    for (int ch = 0; ch < data::kChannelCount; ++ch)
      if (dev.hart[ch].found) data::keepEnteredSerial(dev.devCh[ch], enteredSerial(ch));
  }
  if (searchDone) {
    // The found transmitters go into their channels before the grid shows them; the grid is then
    // applied to the record again, and would otherwise undo them.
    for (int ch = 0; ch < data::kChannelCount; ++ch)
      if (dev.hart[ch].found) data::takeOverHartDevice(dev.devCh[ch], dev.hart[ch], enteredSerial(ch));
  }
  if (searchDone || hartWritten)
    for (int ch = 0; ch < data::kChannelCount; ++ch) showHartChannel(ch, true);
  if (settingsRead || searchDone || hartWritten) {
    DevToParams();
    showCalibratorLine(data::calibratorLine(dev));
  }
  if (settingsRead) {
    ParamsToDev();
    SetReadiness();
  }
  if (searchDone) {
    gridChanged(-1, true);
    SetReadiness();
    reportHartChanges(dev, before);
  }
  // What the screen took from the transmitters goes into the project as well: a run starts from it.
  if (hartWritten && !searchDone) ParamsToDev();
  if (infoRead) {
    showHartChannel(dev.hartCh, false);
    if (dev.hartCh >= 0 && dev.hartCh < data::kChannelCount)
      context().project().model().channels[static_cast<std::size_t>(dev.hartCh)] =
          data::channelFromDev(dev.devCh[dev.hartCh]);
  }
}

void ParametersScreen::afterBinding(TDev& dev) {
  // The relay check's speed is a setting of the Brenk calibrator.
  relaySpeedPanel_->setVisible(dev.model == 0 || context().uiBrenk());
}

// ---- Buttons ------------------------------------------------------------------------------------

void ParametersScreen::ReadIvtm() {
  // The conditions typed by the operator stay until a read has given all three values: a "-" would
  // otherwise reach the protocol.
  if (!hygrometer_) {
    context().messageWindow().showMessage(QStringLiteral("Библиотека EksisExchange.dll не найдена"), false,
                                          QStringLiteral("Error"));
    return;
  }
  const auto values = hygrometer_(ivtmSerial_->text());
  const auto usable = [](float v) { return std::isfinite(v) && std::fabs(v) < 1e9f; };
  if (!values || !std::all_of(values->begin(), values->end(), usable)) {
    context().messageWindow().showMessage(QStringLiteral("Гигрометр ИВТМ-7M № ") + ivtmSerial_->text() +
                                              QStringLiteral(" не прочитан: условия не изменены."),
                                          false, QStringLiteral("Error"));
    return;
  }
  const std::array<QLineEdit*, 3> boxes{temp_, hum_, pres_};
  for (std::size_t i = 0; i < 3; ++i)
    boxes[i]->setText(QString::number(static_cast<long long>(std::trunc((*values)[i]))));
  markModified();
  ParamsToDev();
}

void ParametersScreen::pbTemplateOpenClick() {
  QString name;
  if (Prompts::fileName) {
    name = Prompts::fileName(QStringLiteral("Выбор шаблона"), false);
  } else {
    name = QFileDialog::getOpenFileName(context().window(), QStringLiteral("Выбор шаблона"), templateFolder_,
                                        QStringLiteral("Шаблоны проетоколов (*.xls *.xlsx)"));
  }
  if (name.isEmpty()) return;
  const QFileInfo info(name);
  templateFolder_ = QDir::toNativeSeparators(info.absolutePath());
  if (!templateFolder_.endsWith(QDir::separator())) templateFolder_ += QDir::separator();
  templateName_ = info.fileName();
  DevToParams();
  markModified();
  ParamsToDev();
}

// ---- Project ------------------------------------------------------------------------------------

QString ParametersScreen::methodsPath() const {
  const QString dir = context().programDir();
  return dir.isEmpty() ? QStringLiteral("mp.ini") : QDir(dir).filePath(QStringLiteral("mp.ini"));
}

void ParametersScreen::showMethods(const data::MethodList& list) {
  const QSignalBlocker quiet(methods_);
  for (int r = 0; r < data::kMethodRows; ++r) {
    const data::MethodRow& row = list[static_cast<std::size_t>(r)];
    methods_->setItem(r, 0, new QTableWidgetItem(fromUtf8(row.device)));
    methods_->setItem(r, 1, new QTableWidgetItem(fromUtf8(row.document)));
  }
}

data::MethodList ParametersScreen::methods() const {
  data::MethodList list;
  for (int r = 0; r < data::kMethodRows; ++r) {
    const QTableWidgetItem* device = methods_->item(r, 0);
    const QTableWidgetItem* doc = methods_->item(r, 1);
    list[static_cast<std::size_t>(r)] = {device ? device->text().toStdString() : std::string(),
                                         doc ? doc->text().toStdString() : std::string()};
  }
  return list;
}

std::vector<std::pair<std::string, std::string>> ParametersScreen::reportPlaceholders() const {
  // The same list and texts quarn-cli's protocol takes from a project file.
  data::Project shown;
  readWidgetsInto(shown);
  return quarn::report::protocolPlaceholders(shown);
}

void ParametersScreen::showProjectName() {
  projectName_->setText(QStringLiteral("Файл проекта: ") + context().project().fileName());
}

void ParametersScreen::markModified() { context().setProjectModified(true); }

void ParametersScreen::showCalibratorLine(const std::string& line) {
  calibratorLine_->setText(fromUtf8(line));
  context().project().setCalibratorLine(line);
}

void ParametersScreen::projectLoaded(data::Project& project) {
  // The screen's own controls, each with the handler its choice runs; the handlers leave the project
  // alone until it is all on the screen.
  loading_ = true;
  FormPersistence::component(project.file, false, this);
  // The project's template, or the standard one when the project's is not there.
  data::ReportTemplate t = project.reportTemplate;
  data::resolveReportTemplate(t, context().programDir().toStdString());
  templateFolder_ = fromUtf8(t.folder);
  templateName_ = fromUtf8(t.name);
  // The channels, and the relay settings just loaded, into the record before the screen shows the
  // record again (the relay boxes would otherwise get the previous project's values back).
  TDev& dev = record();
  for (int ch = 0; ch < data::kChannelCount; ++ch)
    data::channelToDev(project.channels[static_cast<std::size_t>(ch)], dev.devCh[ch]);
  readWidgetsInto(project);
  data::headerToDev(project, dev, context().project().applyOptions());
  points_->setSets(project.pointSets);

  data::MethodList list = methods();
  const data::Outcome read = data::loadMethods(methodsPath().toStdString(), list);
  if (!read)
    context().messageWindow().showMessage(
        QStringLiteral("Список методик измерений не прочитан:\n") + fromUtf8(read.why()), false,
        QStringLiteral("Ошибка"));
  showMethods(list);

  DevToParams();
  loading_ = false;
  // Applies the screen (the project takes what the screen shows), and shows the points in the
  // loaded devices' range.
  gridChanged(-1, false);
  points_->redraw();
  showProjectName();
}

void ParametersScreen::commitEdits(data::Project& project) {
  // An edit still open in a list counts.
  grid_->view()->commitEditor();
  points_->view()->commitEditor();
  // The project follows every edit; the screen's own controls go into the file's sections.
  ParamsToDev();
  FormPersistence::component(project.file, true, this);

  const data::Outcome saved = data::saveMethods(methodsPath().toStdString(), methods());
  if (!saved)
    context().messageWindow().showMessage(
        QStringLiteral("Список методик измерений не сохранён:\n") + fromUtf8(saved.why()), false,
        QStringLiteral("Ошибка"));
  showProjectName();
}

}  // namespace arm
