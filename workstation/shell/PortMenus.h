// The calibrator port menu ("  COM-порт  ", COMselect) and, for the Brenk workstation, the external
// transducer menu ("  Внешний Dorv ", menuExtDorv with its port submenu and the switch item). Port
// items are exclusive radio items built from the library's port map; choosing a calibrator port
// starts the connection. The checked items are kept in the settings file.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "quarn/library_binding.h"

class QAction;
class QActionGroup;
class QMenu;
class QMenuBar;

namespace quarn::data {
struct WorkstationSettings;
}

namespace arm {

class PortMenus : public QObject {
  Q_OBJECT
 public:
  // Builds the menus in the menu bar (the transducer menu hidden until showDorvMenu()). `probe` tells
  // whether a port can be opened now (null: open the device to test it).
  PortMenus(QMenuBar* bar, quarn::host::Library& lib, std::function<bool(const QString&)> probe);

  QMenu* portMenu() const { return comSelect_; }
  QMenu* dorvPortMenu() const { return dorvPort_; }
  QAction* dorvSwitch() const { return dorvIsOn_; }
  // The port items of a menu (the "all" item included), in menu order.
  QList<QAction*> portItems(QMenu* menu) const;
  QAction* checkedItem(QMenu* menu) const;
  void showDorvMenu(bool visible);
  // While a verification runs, a port chosen would start the connection (task 3) under it and the
  // transducer switched would change its reference: both menus are disabled, with `reason` as their
  // tool tip and status text. An empty reason frees them.
  void setRunLock(const QString& reason);
  bool runLocked() const { return !runLock_.isEmpty(); }

  // Rebuilds a port menu from the port map; the item of the same name keeps its check mark.
  void FillPortMenu(QMenu* menu, bool withAll);
  // A port item chosen: it becomes the checked one; a calibrator port is written into the record and
  // the connection (task 3) starts.
  void COM11Click(QAction* item);
  // The system's serial devices changed.
  void OnDeviceChange();
  // The transducer menu opened / its switch item clicked.
  void menuExtDorvClick();
  void menuExtDorv_isOnClick();

  // Registers a device path (e.g. the simulator's terminal) as a port; returns its number, 0 when the
  // map has no room. The menus are rebuilt.
  uint32_t registerPortPath(const QString& path);

  // Settings file: the items that exist now, restoring the saved choice (the first saved checked
  // item is checked and its handler runs), the first-start rule and storing the checks.
  std::map<std::string, std::vector<std::string>> itemNames() const;
  void restore(const quarn::data::WorkstationSettings& settings, bool withDorv);
  // Without a checked item "Все доступные" is checked; with `search` (a settings file was read, so
  // this is not the very first start) its handler runs too and the search starts, as shown.
  void normalise(bool search = false);
  void store(quarn::data::WorkstationSettings& settings, bool withDorv) const;

  // The colour of the transducer's menu bar entry while it is the reference.
  static QColor alertColour();

 Q_SIGNALS:
  // A calibrator port was chosen (0: "Все доступные") and the connection started.
  void calibratorPortChosen(uint32_t portNo);
  // The external transducer was switched off.
  void dorvSwitchedOff();

 private:
  QActionGroup* groupOf(QMenu* menu) const;
  void restoreMenu(QMenu* menu, const std::map<std::string, bool>& saved);

  QMenuBar* bar_;
  quarn::host::Library& lib_;
  std::function<bool(const QString&)> probe_;
  QMenu* comSelect_ = nullptr;
  QMenu* extDorv_ = nullptr;
  QMenu* dorvPort_ = nullptr;
  QAction* dorvIsOn_ = nullptr;
  QActionGroup* comGroup_ = nullptr;
  QActionGroup* dorvGroup_ = nullptr;
  QString runLock_;
  // The calibrator port item last chosen. Its port may go away (the line pulled, the adapter
  // unplugged): the choice stays, is checked again when the port comes back and is what the settings
  // file keeps.
  QString chosenPort_;
};

}  // namespace arm
