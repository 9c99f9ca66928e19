// A screen of the main window. Each screen refreshes itself from the shared record at every
// notification and is shown or hidden by the mode buttons. The screens that are not built yet are
// empty pages with their title.
#pragma once

#include <QFrame>
#include <QLabel>
#include <QVBoxLayout>

struct TDev;

namespace arm {

class ModeFrame : public QFrame {
 public:
  ModeFrame(const QString& objectName, const QString& title, QWidget* parent = nullptr) : QFrame(parent) {
    setObjectName(objectName);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, QColor(189, 207, 233));
    setPalette(p);
    auto* layout = new QVBoxLayout(this);
    auto* caption = new QLabel(title, this);
    caption->setObjectName(objectName + QStringLiteral("_title"));
    QFont f = caption->font();
    f.setPointSize(f.pointSize() + 4);
    f.setBold(true);
    caption->setFont(f);
    caption->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    layout->addWidget(caption);
    layout->addStretch(1);
  }

  // Refresh from the record (called inside the library's notification).
  virtual void updateFromDev(TDev& /*dev*/) {}
  void showFrame() { show(); }
  void hideFrame() { hide(); }
  // The graph screen hides its channel curves, value labels and curve selectors while the calibrator
  // has no Kesto module.
  virtual void setChannelsVisible(bool visible) { channelsVisible_ = visible; }
  bool channelsVisible() const { return channelsVisible_; }

 private:
  bool channelsVisible_ = true;
};

}  // namespace arm
