// The main window bound to the real libquarn.so, with the simulated bench plugged into the library
// as a virtual port and the library's clock replaced by a virtual one, so connecting and measuring
// take milliseconds. The library's own timer is not watched; the tests call TimerProc themselves.
// Shared by the test files of the shell and of the screens.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <functional>
#include <memory>

#include "BrenkSettingsScreen.h"
#include "GraphScreen.h"
#include "HartScreen.h"
#include "MainWindow.h"
#include "PanelButton.h"
#include "ParametersScreen.h"
#include "PortMenus.h"
#include "ProjectController.h"
#include "Prompts.h"
#include "QuarnSettingsScreen.h"
#include "RegulationScreen.h"
#include "VerificationScreen.h"
#include "ZDialog.h"
#include "quarn/library_binding.h"
#include "quarnsim/engine.h"
#include "test_paths.h"

namespace armtest {

using namespace arm;

// The program's one virtual clock. It outlives every test, so the library never keeps a pointer to
// a clock that is gone.
inline uint32_t g_now = 1000;
inline uint32_t clockNow(void*) { return g_now; }
inline void clockSleep(void*, uint32_t ms) { g_now += ms; }

// What the tests reach in the loaded library besides the binding.
struct LibraryAccess {
  void* handle = nullptr;
  void (*setClock)(const quarn_clock*) = nullptr;
  uint32_t (*nowMs)() = nullptr;
  void (*timerProc)(void*, uint32_t, uintptr_t, uint32_t) = nullptr;
  int (*registerVirtual)(uint32_t, const quarn_vport_ops*) = nullptr;
  void (*unregister)(uint32_t) = nullptr;
};
inline LibraryAccess g_lib;

inline quarn_vport_ops simPortOps(quarnsim::LinePort& port) {
  quarn_vport_ops ops{};
  ops.ctx = &port;
  ops.open = [](void* ctx) { return static_cast<quarnsim::LinePort*>(ctx)->open(g_lib.nowMs()); };
  ops.close = [](void* ctx) { static_cast<quarnsim::LinePort*>(ctx)->close(); };
  ops.set_line = [](void* ctx, uint32_t baud, int parity, int stop) {
    static_cast<quarnsim::LinePort*>(ctx)->setLine(baud, parity, stop);
  };
  ops.write = [](void* ctx, const uint8_t* data, uint32_t n, uint32_t now) {
    return static_cast<quarnsim::LinePort*>(ctx)->write(data, n, now);
  };
  ops.available = [](void* ctx, uint32_t now) {
    return static_cast<quarnsim::LinePort*>(ctx)->available(now);
  };
  ops.read = [](void* ctx, uint8_t* buf, uint32_t max, uint32_t now) {
    return static_cast<quarnsim::LinePort*>(ctx)->read(buf, max, now);
  };
  ops.purge = [](void* ctx) { static_cast<quarnsim::LinePort*>(ctx)->purge(); };
  return ops;
}

template <typename Fn>
Fn lookup(const char* name) {
  return reinterpret_cast<Fn>(dlsym(g_lib.handle, name));
}

// A left-button press (and release) on a widget, as the operator's click.
inline void pressMouse(QWidget* w, bool release = false) {
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), w->mapToGlobal(QPointF(5, 5)), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(w, &press);
  if (!release) return;
  QMouseEvent up(QEvent::MouseButtonRelease, QPointF(5, 5), w->mapToGlobal(QPointF(5, 5)), Qt::LeftButton,
                 Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(w, &up);
}

// Opens libquarn.so beside the program and puts the virtual clock in. Holding the library open
// ourselves keeps it loaded between a window's bind and unbind, so the virtual clock and ports are in
// place before the binding's pause and stay valid to the end. False (dlerror() tells why) when the
// library or one of its functions is missing.
inline bool openLibrary() {
  g_lib.handle = dlopen((quarn::host::programFolder() + "libquarn.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!g_lib.handle) return false;
  g_lib.setClock = lookup<void (*)(const quarn_clock*)>("quarn_set_clock");
  g_lib.nowMs = lookup<uint32_t (*)()>("quarn_now_ms");
  g_lib.timerProc = lookup<void (*)(void*, uint32_t, uintptr_t, uint32_t)>("TimerProc");
  g_lib.registerVirtual = lookup<int (*)(uint32_t, const quarn_vport_ops*)>("quarn_port_register_virtual");
  g_lib.unregister = lookup<void (*)(uint32_t)>("quarn_port_unregister");
  if (!(g_lib.setClock && g_lib.nowMs && g_lib.timerProc && g_lib.registerVirtual && g_lib.unregister))
    return false;
  const quarn_clock clock{nullptr, &clockNow, &clockSleep};
  g_lib.setClock(&clock);
  return true;
}

// The shipped calibrator catalogues, copied into a program folder.
inline void copyCatalogues(const QString& folder) {
  for (const char* name : {"Models_Quarn.xml", "Models_Brenk.xml", "Errors.xml"})
    QFile::copy(QString::fromStdString(quarn::test::path("QUARN_CATALOGUE_DIR") + "/") + name,
                QDir(folder).filePath(QString::fromLatin1(name)));
}

// A main window in `folder` whose library timer and device watch are left to the caller and whose
// ports all open.
inline MainWindow::Options windowOptions(const QString& folder, uint32_t model = 1) {
  MainWindow::Options o;
  o.model = model;
  o.programDir = folder;
  o.watchTimer = false;
  o.watchDevices = false;
  o.portProbe = [](const QString&) { return true; };
  return o;
}

class Workstation : public ::testing::Test {
 protected:
  void SetUp() override {
    Prompts::reset();
    Prompts::error = [this](const QString&, const QString& text) { errors << text; };
    ASSERT_TRUE(openLibrary()) << dlerror();
    ASSERT_TRUE(dir.isValid());
    copyCatalogues(dir.path());
  }

  void TearDown() override {
    if (window && !window->closeRequested()) {
      Prompts::saveQuestion = [](const QString&) { return QMessageBox::No; };
      window->close();
    }
    window.reset();
    for (uint32_t port : ports) g_lib.unregister(port);
    bench.reset();
    if (g_lib.handle) dlclose(g_lib.handle);
    g_lib = LibraryAccess{};
    Prompts::reset();
  }

  void plugSimulator(const quarnsim::Scenario& scenario, uint32_t port = 7) {
    bench = std::make_unique<quarnsim::Engine>(scenario);
    ops = simPortOps(bench->calibratorPort());
    ASSERT_EQ(g_lib.registerVirtual(port, &ops), 0);
    ports.push_back(port);
  }

  MainWindow& makeWindow(uint32_t model = 1) {
    window = std::make_unique<MainWindow>(windowOptions(dir.path(), model));
    EXPECT_EQ(window->create(), 0);
    window->show();
    return *window;
  }

  void writeSettings(const QByteArray& content) {
    QFile f(dir.filePath("arm_quarn.ini"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(content);
  }

  // Timer periods of virtual time, as the library's 20 ms timer would run them.
  void runFor(uint32_t ms) {
    for (uint32_t t = 0; t < ms; t += 20) {
      g_now += 20;
      g_lib.timerProc(nullptr, 0, 1, g_now);
    }
  }
  bool runUntil(const std::function<bool()>& done, uint32_t maxMs = 30000) {
    for (uint32_t t = 0; t < maxMs; t += 20) {
      if (done()) return true;
      g_now += 20;
      g_lib.timerProc(nullptr, 0, 1, g_now);
    }
    return done();
  }

  QAction* portItem(const char* name) { return window->ports().portMenu()->findChild<QAction*>(name); }
  QAction* checkedPort() {
    for (QAction* a : window->ports().portMenu()->actions())
      if (a->isChecked()) return a;
    return nullptr;
  }
  PanelButton* button(const char* name) { return window->findChild<PanelButton*>(name); }
  QString labelText(const char* name) { return window->findChild<QLabel*>(name)->text(); }
  bool shown(const char* name) { return !button(name)->isHidden(); }
  TDev& dev() { return *window->dev(); }
  bool linkedAndMeasured() {
    return window->dev()->linked == 1 && labelText("lbStatusPressure").contains(QStringLiteral("±"));
  }
  void connectTo(const char* item) {
    QAction* a = portItem(item);
    ASSERT_NE(a, nullptr) << item;
    window->ports().COM11Click(a);
    ASSERT_TRUE(runUntil([this] { return linkedAndMeasured(); }));
  }

  QTemporaryDir dir;
  QStringList errors;
  std::unique_ptr<quarnsim::Engine> bench;
  quarn_vport_ops ops{};
  std::vector<uint32_t> ports;
  std::unique_ptr<MainWindow> window;
};

}  // namespace armtest
