#include "PortMenus.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleOptionMenuItem>

#include "IniDocument.h"
#include "PortList.h"
#include "TDevValues.h"
#include "WorkstationSettings.h"

namespace arm {

namespace {

// Draws the external transducer's menu bar entry in the alert colour while the external reference
// is selected.
class MenuBarStyle : public QProxyStyle {
 public:
  void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                   const QWidget* widget) const override {
    if (element == CE_MenuBarItem && alert && !alertTitle.isEmpty()) {
      if (const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option)) {
        if (item->text == alertTitle) {
          QStyleOptionMenuItem marked(*item);
          for (QPalette::ColorRole role : {QPalette::ButtonText, QPalette::WindowText, QPalette::Text})
            marked.palette.setColor(role, PortMenus::alertColour());
          QProxyStyle::drawControl(element, &marked, painter, widget);
          return;
        }
      }
    }
    QProxyStyle::drawControl(element, option, painter, widget);
  }
  bool alert = false;
  QString alertTitle;
};

std::string calibratorSection() { return quarn::data::ownerChainSection({"FormMain", "COMselect"}); }
std::string dorvSection() { return quarn::data::ownerChainSection({"FormMain", "menuExtDorv_port"}); }

}  // namespace

QColor PortMenus::alertColour() {
  // A dark red: legible on the light menu bar (contrast above 4.5 : 1), still read as a warning.
  return QColor(170, 0, 0);
}

PortMenus::PortMenus(QMenuBar* bar, quarn::host::Library& lib, std::function<bool(const QString&)> probe)
    : QObject(bar), bar_(bar), lib_(lib), probe_(std::move(probe)) {
  auto* style = new MenuBarStyle;
  style->setParent(bar);
  bar->setStyle(style);

  comSelect_ = bar->addMenu(QStringLiteral("  COM-порт  "));
  comSelect_->setObjectName(QStringLiteral("COMselect"));
  comGroup_ = new QActionGroup(comSelect_);
  comGroup_->setExclusionPolicy(QActionGroup::ExclusionPolicy::Exclusive);

  extDorv_ = bar->addMenu(QStringLiteral("  Внешний Dorv "));
  extDorv_->setObjectName(QStringLiteral("menuExtDorv"));
  dorvPort_ = extDorv_->addMenu(QStringLiteral("COM-порт"));
  dorvPort_->setObjectName(QStringLiteral("menuExtDorv_port"));
  dorvGroup_ = new QActionGroup(dorvPort_);
  dorvGroup_->setExclusionPolicy(QActionGroup::ExclusionPolicy::Exclusive);
  dorvIsOn_ = extDorv_->addAction(QStringLiteral("ПОДКЛЮЧИТЬ"));
  dorvIsOn_->setObjectName(QStringLiteral("menuExtDorv_isOn"));
  dorvIsOn_->setCheckable(true);
  connect(dorvIsOn_, &QAction::triggered, this, [this] {
    // The item's own toggle is undone: the handler toggles it, as for a click on a plain item.
    dorvIsOn_->setChecked(!dorvIsOn_->isChecked());
    menuExtDorv_isOnClick();
  });
  connect(extDorv_, &QMenu::aboutToShow, this, &PortMenus::menuExtDorvClick);
  style->alertTitle = extDorv_->title();
  extDorv_->menuAction()->setVisible(false);
}

void PortMenus::showDorvMenu(bool visible) { extDorv_->menuAction()->setVisible(visible); }

void PortMenus::setRunLock(const QString& reason) {
  runLock_ = reason;
  for (QMenu* menu : {comSelect_, extDorv_}) {
    QAction* entry = menu->menuAction();
    entry->setEnabled(reason.isEmpty());
    entry->setToolTip(reason);
    entry->setStatusTip(reason);
  }
}

QActionGroup* PortMenus::groupOf(QMenu* menu) const { return menu == comSelect_ ? comGroup_ : dorvGroup_; }

QList<QAction*> PortMenus::portItems(QMenu* menu) const {
  QList<QAction*> items;
  for (QAction* a : menu->actions())
    if (a->isCheckable() && !a->isSeparator()) items.push_back(a);
  return items;
}

QAction* PortMenus::checkedItem(QMenu* menu) const {
  for (QAction* a : portItems(menu))
    if (a->isChecked()) return a;
  return nullptr;
}

void PortMenus::FillPortMenu(QMenu* menu, bool withAll) {
  // The check mark survives a rebuild for the item of the same name.
  const QAction* checked = checkedItem(menu);
  QString checkedName = checked ? checked->objectName() : QString();
  if (checkedName.isEmpty() && menu == comSelect_) checkedName = chosenPort_;
  QActionGroup* group = groupOf(menu);
  for (QAction* a : menu->actions()) {
    // Detached at once (a lookup by name no longer finds it), freed once its signals have returned.
    group->removeAction(a);
    menu->removeAction(a);
    a->setParent(nullptr);
    a->deleteLater();
  }
  auto add = [&](const QString& name, const QString& caption, uint32_t tag, bool enabled, bool newColumn) {
    auto* a = new QAction(caption, menu);
    a->setObjectName(name);
    a->setCheckable(true);
    a->setData(tag);
    a->setProperty("group", tag);
    a->setProperty("newColumn", newColumn);
    a->setEnabled(enabled);
    group->addAction(a);
    a->setChecked(name == checkedName);
    connect(a, &QAction::triggered, this, [this, a] { COM11Click(a); });
    menu->addAction(a);
  };
  if (withAll) add(QStringLiteral("menuAll_item"), QStringLiteral("Все доступные"), 0, true, false);
  if (!lib_.portPath) return;
  auto pathOf = [this](uint32_t n) { return QString::fromLocal8Bit(lib_.portPath(n)); };
  const uint32_t held = lib_.dev && lib_.dev->linked == 1 ? static_cast<uint32_t>(lib_.dev->portNo) : 0u;
  for (const PortEntry& e : listPorts(pathOf, probe_, held))
    add(e.name, e.caption, e.number, e.enabled, e.newColumn);
}

void PortMenus::COM11Click(QAction* item) {
  // A run locks the menus; nothing reaches here from them, and no other caller may move the choice.
  if (!item || runLocked()) return;
  // One item of a menu is checked: the group unchecks the one before.
  if (!item->isChecked()) item->setChecked(true);
  QMenu* menu = qobject_cast<QMenu*>(item->parent());
  if (menu == comSelect_) chosenPort_ = item->objectName();
  if (menu == comSelect_ && lib_.dev) {
    const uint32_t portNo = item->data().toUInt();
    lib_.dev->portNo = portNo;
    lib_.SetTask(TASK_CONNECT, nullptr);
    Q_EMIT calibratorPortChosen(portNo);
  }
}

void PortMenus::OnDeviceChange() {
  if (lib_.portRescan) lib_.portRescan();
  FillPortMenu(comSelect_, true);
  if (extDorv_->menuAction()->isVisible() && lib_.dev && lib_.dev->linked == 1)
    FillPortMenu(dorvPort_, false);
}

uint32_t PortMenus::registerPortPath(const QString& path) {
  if (!lib_.portRegisterPath || !lib_.portPath) return 0;
  const QByteArray native = path.toLocal8Bit();
  uint32_t number = lib_.portNumber ? lib_.portNumber(native.constData()) : 0;
  for (uint32_t n = QUARN_PORT_MAX; number == 0 && n >= 1; --n) {
    const char* p = lib_.portPath(n);
    if ((!p || !*p) && lib_.portRegisterPath(n, native.constData()) == 0) number = n;
  }
  if (number != 0) {
    FillPortMenu(comSelect_, true);
    FillPortMenu(dorvPort_, false);
  }
  return number;
}

void PortMenus::menuExtDorvClick() {
  if (!lib_.dev) return;
  const bool available = lib_.dev->linked == 1 || dorvIsOn_->isChecked();
  dorvIsOn_->setEnabled(available && checkedItem(dorvPort_) != nullptr);
}

void PortMenus::menuExtDorv_isOnClick() {
  if (!lib_.dev || runLocked()) return;
  TDev& dev = *lib_.dev;
  const bool on = !dorvIsOn_->isChecked();
  dorvIsOn_->setChecked(on);
  dorvIsOn_->setText(on ? QStringLiteral("ОТКЛЮЧИТЬ") : QStringLiteral("ПОДКЛЮЧИТЬ"));
  if (on) {
    if (const QAction* port = checkedItem(dorvPort_)) dev.dorv.serialNo = port->data().toUInt();
  }
  dev.settings.refSource = on ? REF_SOURCE_EXTERNAL : REF_SOURCE_AUTO;
  auto* style = static_cast<MenuBarStyle*>(bar_->style());
  style->alert = dev.settings.refSource == REF_SOURCE_EXTERNAL;
  bar_->update();
  if (!on) {
    dev.dorv.present = 0;
    Q_EMIT dorvSwitchedOff();
  }
}

std::map<std::string, std::vector<std::string>> PortMenus::itemNames() const {
  std::map<std::string, std::vector<std::string>> names;
  auto collect = [&](QMenu* menu, const std::string& section) {
    auto& list = names[section];
    for (QAction* a : portItems(menu)) list.push_back(a->objectName().toStdString());
  };
  collect(comSelect_, calibratorSection());
  if (extDorv_->menuAction()->isVisible()) collect(dorvPort_, dorvSection());
  return names;
}

void PortMenus::restoreMenu(QMenu* menu, const std::map<std::string, bool>& saved) {
  // A file may name several checked items (written by another program); the first one is the
  // choice, so the menu and the connection agree.
  for (QAction* item : portItems(menu)) {
    const auto it = saved.find(item->objectName().toStdString());
    if (it != saved.end() && it->second) {
      COM11Click(item);
      return;
    }
  }
}

void PortMenus::restore(const quarn::data::WorkstationSettings& settings, bool withDorv) {
  const auto com = settings.portMenus.find(calibratorSection());
  if (com != settings.portMenus.end()) restoreMenu(comSelect_, com->second);
  if (!withDorv) return;
  const auto dorv = settings.portMenus.find(dorvSection());
  if (dorv != settings.portMenus.end()) restoreMenu(dorvPort_, dorv->second);
}

void PortMenus::normalise(bool search) {
  const QList<QAction*> items = portItems(comSelect_);
  if (checkedItem(comSelect_) || items.isEmpty()) return;
  if (search)
    COM11Click(items.front());
  else
    items.front()->setChecked(true);
}

void PortMenus::store(quarn::data::WorkstationSettings& settings, bool withDorv) const {
  auto keep = [&](QMenu* menu, const std::string& section) {
    auto& items = settings.portMenus[section];
    for (QAction* a : portItems(menu)) items[a->objectName().toStdString()] = a->isChecked();
  };
  keep(comSelect_, calibratorSection());
  // A chosen port that is not there now (its line dropped) is still the choice.
  if (!checkedItem(comSelect_) && !chosenPort_.isEmpty())
    settings.portMenus[calibratorSection()][chosenPort_.toStdString()] = true;
  if (withDorv) keep(dorvPort_, dorvSection());
}

}  // namespace arm
