#include "PortList.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "quarn_host.h"

namespace arm {

bool portCanBeOpened(const QString& path) {
  if (path.startsWith(QLatin1String("virtual:"))) return true;
  const QByteArray native = path.toLocal8Bit();
  const int fd = ::open(native.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  termios t{};
  const bool ok = isatty(fd) && tcgetattr(fd, &t) == 0;
  ::close(fd);
  return ok;
}

std::vector<PortEntry> listPorts(const std::function<QString(uint32_t)>& pathOf,
                                 const std::function<bool(const QString&)>& probe, uint32_t heldPort) {
  std::vector<PortEntry> out;
  if (!pathOf) return out;
  for (uint32_t n = 1; n <= QUARN_PORT_MAX; ++n) {
    const QString path = pathOf(n);
    if (path.isEmpty()) continue;
    PortEntry e;
    e.number = n;
    e.path = path;
    e.name = QStringLiteral("COM%1").arg(n);
    QString device = path;
    if (device.startsWith(QLatin1String("/dev/"))) device = device.mid(5);
    e.caption = e.name + QStringLiteral("  (") + device + QStringLiteral(")");
    e.enabled = n != heldPort && (probe ? probe(path) : portCanBeOpened(path));
    e.newColumn = n % 47 == 0;
    out.push_back(e);
  }
  return out;
}

}  // namespace arm
