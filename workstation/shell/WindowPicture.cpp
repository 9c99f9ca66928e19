#include "WindowPicture.h"

#include <QPainter>
#include <QWidget>

namespace arm {

QPixmap windowPicture(QWidget& window) {
  const QPixmap content = window.grab();
  const int bar = 28;
  QPixmap out(content.width(), content.height() + bar);
  out.fill(QColor(45, 52, 70));
  QPainter p(&out);
  QFont f = p.font();
  f.setBold(true);
  p.setFont(f);
  p.setPen(Qt::white);
  p.drawText(QRect(10, 0, content.width() - 20, bar), Qt::AlignVCenter | Qt::AlignLeft, window.windowTitle());
  p.drawPixmap(0, bar, content);
  return out;
}

}  // namespace arm
