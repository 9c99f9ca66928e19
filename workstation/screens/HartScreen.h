// The HART screen (mode "HART", Frame_Mode_2_HART1): the device panel on top (search, device data,
// write, zero, reset, restore) and below it, by the two selectors "Токовый выход" and "Сенсор", either
// the current-output panel (check and trim of the analog output) or the sensor panel (sensor trim).
// It refreshes at every notification, shown or not: a device's error answer and a failed HART
// procedure are shown in the message window, then the three panels refresh, then the record's
// errCode goes back to 0.
#pragma once

#include <QStringList>

#include "Screen.h"

class QLabel;

namespace arm {

class HartCurrentPanel;
class HartDevicePanel;
class HartSensorPanel;

class HartScreen : public Screen {
  Q_OBJECT
 public:
  explicit HartScreen(WorkstationContext& context, QWidget* parent = nullptr);

  void refresh(TDev& dev) override;
  // HartRefresh: the whole screen from the record.
  void HartRefresh(TDev& dev);

  // Shows the current-output panel (the "Токовый выход" selector) or the sensor panel ("Сенсор").
  void Type_Click(QLabel* selector);
  // A click on the caption label of the current panel's "Подстроить".
  void Frame_Mode_2_2_HART1Label2Click();
  // Presses "Начать поиск " as soon as the button is usable (after connecting), once: for pictures
  // of a search taken without an operator (ARM_Quarn --hart-search).
  void searchWhenPossible() { searchRequested_ = true; }

  HartDevicePanel* devicePanel() const { return device_; }
  HartCurrentPanel* currentPanel() const { return current_; }
  HartSensorPanel* sensorPanel() const { return sensor_; }
  QLabel* currentSelector() const { return selectorI_; }
  QLabel* sensorSelector() const { return selectorS_; }

  // Shows a text in the program's message window without waiting. Texts the library's notifications
  // bring while one task runs are collected while the window still shows them, so a device's error
  // answer stays readable when the procedure's failure follows it; a text already there is not
  // repeated. The operator's refusals replace the window's text.
  void showMessage(const QString& text, bool fromLibrary = false);

 Q_SIGNALS:
  // Every text shown, once per showing (tests count them).
  void messageShown(const QString& text);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  HartDevicePanel* device_;
  HartCurrentPanel* current_;
  HartSensorPanel* sensor_;
  QWidget* pnI_;
  QWidget* pnS_;
  QLabel* selectorI_;
  QLabel* selectorS_;
  // The library's texts shown while the task `messageTask_` ran, and the window text they made.
  QStringList libraryMessages_;
  uint32_t messageTask_ = 0;
  QString windowText_;
  bool inRefresh_ = false;
  bool searchRequested_ = false;
};

}  // namespace arm
