// Random scenario text: the parser must refuse or apply it, and a bench must start from whatever it
// accepted and answer an identification request.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <utility>

#include "quarnsim/engine.h"
#include "quarnsim/scenario.h"
#include "quarnsim/uail_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quarnsim::Scenario scenario;
  quarnsim::applyScenarioText(scenario, std::string_view(reinterpret_cast<const char*>(data), size));
  scenario.faults.clear();  // a fault may legitimately silence the bench
  scenario.deviceType = -1;
  const double turnaroundMaxMs = scenario.turnaround.maxMs;
  quarnsim::Engine bench(std::move(scenario));  // the bench takes the scenario over, no copy
  quarnsim::LinePort& line = bench.calibratorPort();
  if (line.open(0) != 0) abort();
  const auto rq = quarnsim::uail::requestFrame("1;0;");
  line.write(rq.data(), rq.size(), 0);
  if (turnaroundMaxMs < 1e6) {  // a scenario may ask for an answer hours later
    // The answer starts within the turnaround; every further second only steps the bench. The line
    // is asked at the moment its first byte is due when that is sooner: the same answer, without
    // stepping the bench to the end of the longest turnaround.
    const uint32_t later = 500 + static_cast<uint32_t>(turnaroundMaxMs);
    const std::optional<uint32_t> due = line.nextByteDueMs();
    if (line.available(due && *due < later ? *due : later) <= 0) abort();
  }
  for (int ch = 0; ch < 4; ++ch) (void)bench.kestoReading(ch);
  return 0;
}
