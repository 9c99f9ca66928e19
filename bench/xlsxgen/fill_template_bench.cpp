// Filling the default protocol template for four channels with 199 result records each: the whole
// export path (MakeReport → exchange block → libxlsxgen.so → written workbook).
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "make_report.h"
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
  const auto dev = fullDev();
  std::size_t bytes = 0;
  // XLSXBENCH_KEEP=path keeps the last report written (to look at it or compare it).
  const char* keep = std::getenv("XLSXBENCH_KEEP");
  for (auto _ : state) {
    if (quarn::report::MakeReport(*dev, request) != 0) {
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
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  state.counters["peak_rss_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
  state.counters["report_KiB"] = static_cast<double>(bytes) / 1024.0;
}
BENCHMARK(FillDefaultTemplate4x199)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
