// Random host traffic into the simulated bench: bytes on both lines, line-setting changes, purges,
// reopenings and time steps, decided by the input itself. The device must never crash, read or write
// out of bounds, or stop answering a proper request afterwards.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "quarnsim/engine.h"
#include "quarnsim/uail_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quarnsim::Scenario scenario;
  scenario.switches[0] = {true, 10.0, 1.0, true};
  if (size > 0 && (data[0] & 1)) scenario.model = quarnsim::Model::Brenk;
  quarnsim::Engine bench(scenario);
  quarnsim::LinePort* ports[2] = {&bench.calibratorPort(), &bench.dorvPort()};
  ports[0]->open(0);
  ports[1]->open(0);
  uint32_t now = 0;
  static const uint32_t kSpeeds[] = {9600, 1200, 4800, 19200};
  // Simulated time costs steps of the bench's pressure system: an input moves the clock by at most
  // this much, which is many times every time-out of the lines.
  constexpr uint32_t kMaxMs = 20000;

  size_t i = 1;
  while (i < size) {
    const uint8_t op = data[i++];
    quarnsim::LinePort& port = *ports[op & 1];
    switch ((op >> 1) & 7) {
      case 0: {  // a run of bytes from the input
        const size_t n = std::min<size_t>(size - i, (op >> 4) + 1);
        port.write(data + i, n, now);
        i += n;
        break;
      }
      case 1:
        port.setLine(kSpeeds[(op >> 4) & 3], static_cast<int>((op >> 6) % 3) - 1, 2);
        break;
      case 2:
        port.purge();
        break;
      case 3:
        if (now < kMaxMs) now += (op >> 4) * 37u;
        break;
      case 4: {
        uint8_t buf[64];
        port.read(buf, sizeof buf, now);
        break;
      }
      case 5:
        port.close();
        port.open(now);
        break;
      case 6: {  // a well-formed request with an arbitrary payload from the input
        const size_t n = std::min<size_t>(size - i, (op >> 4) + 1);
        std::string payload(reinterpret_cast<const char*>(data + i), n);
        i += n;
        const auto frame = quarnsim::uail::requestFrame(payload);
        port.write(frame.data(), frame.size(), now);
        break;
      }
      default:
        if (now < kMaxMs) now += 1000;
        break;
    }
  }

  // Still alive: a proper identification request is answered.
  quarnsim::LinePort& line = bench.calibratorPort();
  line.setLine(9600, 0, 2);
  line.purge();
  line.close();
  if (line.open(now + 1) != 0) abort();
  const auto rq = quarnsim::uail::requestFrame("1;0;");
  line.write(rq.data(), rq.size(), now + 1);
  // The answer starts after the turnaround, but only once the device has sent what it still owes
  // the requests before (a reopened port takes back nothing the device is already sending: eight
  // identification requests in a row keep it busy for about half a second at 9600 baud); it must
  // have begun within 5 s. The line is asked at the moment its first byte is due when that is
  // sooner: the same answer, without stepping the bench through the rest of the 5 s for every
  // input (a fifth of the simulated time an input can take).
  const uint32_t deadline = now + 5000;
  const std::optional<uint32_t> due = line.nextByteDueMs();
  if (line.available(due && *due < deadline ? *due : deadline) <= 0) abort();
  return 0;
}
