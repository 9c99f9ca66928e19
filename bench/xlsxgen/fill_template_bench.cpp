// Filling the default protocol template for four channels with 199 result records each: the whole
// export path (MakeReport → exchange block → libxlsxgen.so → written workbook).
//
// Besides Google Benchmark's figures it reports, over every call it made, the median and the 95th
// percentile of one export's wall time and CPU time (median_ms, p95_ms, cpu_median_ms, cpu_p95_ms),
// the peak resident memory and the report's size. bench/scripts/xlsxgen_vs_openpyxl.py runs it
// beside the same job done with openpyxl.
#include <benchmark/benchmark.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "make_report.h"
#include "protocol_fields.h"
#include "quarn/cp1251.h"
#include "report_exchange.h"

namespace {

template <std::size_t N>
void put(char (&field)[N], const char* utf8) {
  const std::string t = quarn::text::utf8ToCp1251(utf8);
  std::snprintf(field, N, "%s", t.c_str());
}

std::unique_ptr<TDev> fullDev() {
  auto dev = std::make_unique<TDev>();
  std::memset(dev.get(), 0, sizeof(TDev));
  dev->povHeader.vrCoeff = 0.8f;
  dev->cDigits = 3;
  dev->settings.unitFactor = 1.0f;
  put(dev->povHeader.protocolNo, "П-1");
  put(dev->povHeader.date, "09.12.2026");
  for (int c = 0; c < 4; ++c) {
    TDevChannel& ch = dev->devCh[c];
    ch.enabled = 1;
    put(ch.name, "Преобразователь давления");
    put(ch.sn, ("SN" + std::to_string(c + 1)).c_str());
    put(ch.Unit, "кПа");
    put(ch.el_Unit, "мА");
    ch.errOk = 0.5f;
    ch.Max = 600;
    ch.el_Min = 4;
    ch.el_Max = 20;
  }
  for (int i = 0; i < 199; ++i) {
    TPovResult& r = dev->results[i];
    r.valid = 1;
    r.pRef = static_cast<float>(i * 3);
    for (auto& ch : r.ch) {
      ch.current = 4 + r.pRef / 600 * 16;
      ch.iExpected = ch.current;
      ch.pFromI = r.pRef;
      ch.reducedError = 0.01f * (i % 7);
      ch.uncertainty = 0.01f;
    }
  }
  dev->pointIdx = 199;
  return dev;
}

// The protocol page as an operator fills it; its placeholder controls are the report's list
// (protocol_fields.h). The address's first line ends in a carriage return, which the report drops.
std::vector<std::pair<std::string, std::string>> placeholders() {
  quarn::data::Project p;
  p.readiness.vrCoeff = "0.8";
  quarn::data::ProtocolHeader& h = p.header;
  h.protocolNo = "П-1";
  h.date = "09.12.2026";
  h.temp = "21.5";
  h.hum = "45";
  h.pres = "750";
  h.organisation = "ФБУ \"Тест\"";
  h.accreditationNo = "RA.RU.000001";
  h.address = {"г. Москва,\r", "ул. Тестовая, 1"};
  h.verifierPosition = "инженер";
  h.verifier = "Иванов И.И.";
  h.chiefPosition = "начальник";
  h.chief = "Петров П.П.";
  return quarn::report::protocolPlaceholders(p);
}

// The peak resident memory of this program (VmHWM). Unlike getrusage's ru_maxrss it does not
// include the memory of the process that started it, which Linux carries over an exec.
double peakResidentKiB() {
  double kib = 0;
  if (FILE* f = std::fopen("/proc/self/status", "r")) {
    char line[256];
    while (std::fgets(line, sizeof line, f))
      if (std::sscanf(line, "VmHWM: %lf", &kib) == 1) break;
    std::fclose(f);
  }
  return kib;
}

double seconds(clockid_t clock) {
  timespec t{};
  ::clock_gettime(clock, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The value below which `share` of the samples lie (nearest rank).
double percentile(std::vector<double> samples, double share) {
  if (samples.empty()) return 0;
  std::sort(samples.begin(), samples.end());
  const auto rank = static_cast<std::size_t>(share * static_cast<double>(samples.size()) + 0.999999);
  return samples[std::min(samples.size(), std::max<std::size_t>(rank, 1)) - 1];
}

void FillDefaultTemplate4x199(benchmark::State& state) {
  char folder[] = "/tmp/xlsxgen-bench.XXXXXX";
  if (!::mkdtemp(folder)) {
    state.SkipWithError("mkdtemp");
    return;
  }
  const std::string templatePath = XLSXBENCH_TEMPLATE;
  quarn::report::ReportRequest request;
  request.templateFolder = templatePath.substr(0, templatePath.rfind('/'));
  request.templateName = templatePath.substr(templatePath.rfind('/') + 1);
  request.reportsFolder = folder;
  request.placeholders = placeholders();
  const auto dev = fullDev();
  std::vector<double> wall, cpu;
  std::size_t bytes = 0;
  // XLSXBENCH_KEEP=path keeps the last report written (to look at it or compare it).
  const char* keep = std::getenv("XLSXBENCH_KEEP");
  for (auto _ : state) {
    const double wall0 = seconds(CLOCK_MONOTONIC), cpu0 = seconds(CLOCK_PROCESS_CPUTIME_ID);
    const int rc = quarn::report::MakeReport(*dev, request);
    wall.push_back(seconds(CLOCK_MONOTONIC) - wall0);
    cpu.push_back(seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0);
    if (rc != 0) {
      state.SkipWithError(quarn::report::LastReportError().c_str());
      break;
    }
    const std::string out = quarn::report::LastReportOutput();
    if (FILE* f = std::fopen(out.c_str(), "rb")) {
      std::fseek(f, 0, SEEK_END);
      bytes = static_cast<std::size_t>(std::ftell(f));
      std::fclose(f);
    }
    if (keep) std::rename(out.c_str(), keep);
    ::unlink(out.c_str());
  }
  ::rmdir(folder);
  state.counters["peak_rss_MiB"] = peakResidentKiB() / 1024.0;
  state.counters["report_KiB"] = static_cast<double>(bytes) / 1024.0;
  state.counters["calls"] = static_cast<double>(wall.size());
  state.counters["median_ms"] = percentile(wall, 0.5) * 1e3;
  state.counters["p95_ms"] = percentile(wall, 0.95) * 1e3;
  state.counters["cpu_median_ms"] = percentile(cpu, 0.5) * 1e3;
  state.counters["cpu_p95_ms"] = percentile(cpu, 0.95) * 1e3;
}
// Measure with e.g. --benchmark_min_time=2 (the smoke test of the suite runs it briefly).
BENCHMARK(FillDefaultTemplate4x199)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
