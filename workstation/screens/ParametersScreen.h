// The verification parameters screen (Frame_Mode_3_Param1, mode "Параметры поверки"): the devices
// under test on the four channels, the protocol header, the verification points with the readiness
// settings, the relay check and the list of measurement methods, on five pages. It is the editor of
// the live project (context().project()): every edit goes into the project, which is then applied
// to the shared record and checked (ParamsToDev); it shows the record (DevToParams) after a HART
// search or a settings read, and shows and fills the project on load and save. Nothing else reaches
// this screen: a run starts from the project.
#pragma once

#include <QString>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "DeviceGridRows.h"
#include "MethodList.h"
#include "ParamsCheck.h"
#include "Screen.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QRadioButton;
class QStackedLayout;
class QTableWidget;
class QWidget;

namespace arm {

class DeviceGrid;
class PanelButton;
class PointList;
class PanelButton;

class ParametersScreen : public Screen {
  Q_OBJECT
 public:
  // The hygrometer ("Считать °С, %, p"): temperature °C, relative humidity % and pressure for a
  // serial number, or nothing when it cannot be read.
  using HygrometerReader = std::function<std::optional<std::array<float, 3>>(const QString& serial)>;
  static constexpr int kPageCount = 5;

  explicit ParametersScreen(WorkstationContext& context, QWidget* parent = nullptr);
  ~ParametersScreen() override;

  // ---- Operations -------------------------------------------------------------------------------
  // The screen into the project, then the project into the record: protocol header, readiness, the
  // four channels from the grid, relays; then the check and the readiness for the range just checked.
  void ParamsToDev();
  // The record on the screen: the grid, the relay settings, the template.
  void DevToParams();
  // Applies the screen and shows what is wrong in labErr; the result is paramsValid().
  bool CheckParams();
  // Readiness statistics of the reference and the enabled channels from the record.
  void SetReadiness();
  // One channel of the grid from / into the record.
  void DevToGrid(int channel);
  void GridToDev(int channel);

  // The project's last check (a run may start).
  bool paramsValid() const;
  // The point set chosen with rb_1 .. rb_5 (what a run copies into the record).
  int selectedPointSetIndex() const;
  const quarn::data::PointSet& selectedPointSet() const;
  // The report template: folder (ending with a separator) and file name.
  QString templateFolder() const { return templateFolder_; }
  QString templateName() const { return templateName_; }
  // The report's placeholder controls (names beginning "amp_"), in the screen's order, with their
  // texts (UTF-8): edit boxes their text, memos and lists their text without carriage returns.
  std::vector<std::pair<std::string, std::string>> reportPlaceholders() const;
  // The grid of measurement methods ("Методики измерений").
  quarn::data::MethodList methods() const;
  // The output-signal type of the channels (channel 0's; all channels share one).
  int signalType() const;

  // Pages: 0 "Датчики", 1 "Протокол ", 2 "Точки поверки", 3 "Тест реле", 4 "Методики измерений".
  void showPage(int page);
  int currentPage() const;
  // While a run is active the pages are locked.
  void setPagesEnabled(bool enabled);

  // "Считать °С, %, p" and the template button.
  void ReadIvtm();
  void pbTemplateOpenClick();
  // Without a reader "Считать °С, %, p" is disabled with its reason in the tool tip.
  void setHygrometerReader(HygrometerReader reader);

  DeviceGrid* deviceGrid() const { return grid_; }
  PointList* pointList() const { return points_; }

  // ---- Hooks ------------------------------------------------------------------------------------
  void libraryEvent(TDev& dev) override;
  void afterBinding(TDev& dev) override;
  void projectLoaded(quarn::data::Project& project) override;
  void commitEdits(quarn::data::Project& project) override;

 private:
  void buildSensorsPage(QWidget* page);
  void buildPointsPage(QWidget* page);
  void buildProtocolPage(QWidget* page);
  void buildRelayPage(QWidget* page);
  void buildMethodsPage(QWidget* page);
  QLineEdit* edit(const QString& name, QWidget* parent, bool numeric = false);

  // After any change in the grid: apply, check, the point list's range, readiness, the signal type
  // to the other screens; `markModified` for a change (not for a click or a load).
  void gridChanged(int channel, bool markModified);
  void gridCellEdited(int row, const QString& text, int channel);
  // "Диапазон убывающий: продолжить?" in the message window; true after "Да".
  bool confirmDescendingRange();
  // After a HART search: what it changed in the grid, per channel, in the message window.
  void reportHartChanges(const TDev& dev, const std::array<quarn::data::DeviceGridColumn, 4>& before);
  // DevToGrid with the defaults a freshly read HART transmitter brings (model code, 0.2 %).
  void showHartChannel(int channel, bool switchOn);
  void readWidgetsInto(quarn::data::Project& project) const;
  void showCheck(const quarn::data::ParamsCheck& check);
  void showCalibratorLine(const std::string& line);
  void showMethods(const quarn::data::MethodList& list);
  QString methodsPath() const;
  void showProjectName();
  void markModified();
  TDev& record();

  DeviceGrid* grid_ = nullptr;
  PointList* points_ = nullptr;
  std::array<PanelButton*, kPageCount> tabs_{};
  std::array<QWidget*, kPageCount> pages_{};
  QStackedLayout* pageStack_ = nullptr;
  QLabel* projectName_ = nullptr;  // lab_prjName
  QLabel* labErr_ = nullptr;
  QCheckBox* duplicate_ = nullptr;  // cbDoSetToAll

  // Protocol page
  QLineEdit* protocolNo_ = nullptr;  // amp_D1_SH_NUM
  QLineEdit* date_ = nullptr;        // amp_CD_DATE
  QLineEdit* temp_ = nullptr;
  QLineEdit* hum_ = nullptr;
  QLineEdit* pres_ = nullptr;
  QLineEdit* ivtmSerial_ = nullptr;
  QLineEdit* organisation_ = nullptr;
  QLineEdit* accreditation_ = nullptr;
  QPlainTextEdit* address_ = nullptr;
  QLineEdit* calibratorLine_ = nullptr;  // ed_Quarn_SN
  QPlainTextEdit* auxEquipment_ = nullptr;
  QLineEdit* verifierPos_ = nullptr;
  QLineEdit* verifier_ = nullptr;
  QLineEdit* chiefPos_ = nullptr;
  QLineEdit* chief_ = nullptr;
  std::array<QRadioButton*, 3> kind_{};  // RadioButton1, rb_IsPeriodic, rb_IsCalib
  QComboBox* decimals_ = nullptr;        // cb_cDigits
  QComboBox* brenkClass_ = nullptr;      // cb_Class_Brenk
  QLabel* templatePath_ = nullptr;       // labTemplatePath
  QLineEdit* templateNameEdit_ = nullptr;

  // Points page
  QCheckBox* hardMode_ = nullptr;
  QLineEdit* band_ = nullptr;     // ed_d_Rdy
  QLineEdit* hold_ = nullptr;     // ed_tRdy
  QLineEdit* vrCoeff_ = nullptr;  // amp_CD_VRCOEFF

  // Relay page
  std::array<QCheckBox*, 2> relayOn_{};
  std::array<QLineEdit*, 2> relayP_{};
  std::array<QLineEdit*, 2> relayHyst_{};
  QWidget* relaySpeedPanel_ = nullptr;
  QLineEdit* relaySpeed_ = nullptr;

  QTableWidget* methods_ = nullptr;  // sg_MP

  bool loading_ = false;
  QString templateFolder_;
  QString templateName_;
  HygrometerReader hygrometer_;
  PanelButton* readIvtm_ = nullptr;
  // "Считать °С, %, p" enabled exactly when there is a reader (and the page is).
  void showHygrometerReader();
  // The record used while no library is bound, so the screen works the same without one.
  std::unique_ptr<TDev> ownRecord_;
};

}  // namespace arm
