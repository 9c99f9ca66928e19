// Filling the default protocol template for four channels with 199 result records each: the whole
// export path (MakeReport → exchange block → libxlsxgen.so → written workbook).
//
// Besides Google Benchmark's figures it reports, over every call it made, the median and the 95th
// percentile of one export's wall time and CPU time (median_ms, p95_ms, cpu_median_ms, cpu_p95_ms),
// the peak resident memory and the report's size; the CPU time of the first export in the process
// (first_call_cpu_ms), and the floor of the job (floor_cpu_ms: the template read and the rewritten
// parts inflated and parsed once, their final text deflated at level 1, the report written) with the
// ratios to it (x_floor for the median export, first_x_floor for the first); and what a fresh page of
// memory costs on this machine (fresh_page_us) with the share of the first export it explains
// (first_faults_ms: its page faults at that price).
// bench/scripts/xlsxgen_vs_openpyxl.py runs it beside the same job done with openpyxl.
#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "make_report.h"
#include "protocol_fields.h"
#include "quarn/cp1251.h"
#include "report_exchange.h"
#include "test_paths.h"
#include "zip_package.h"

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

// CPU time and page faults of the first report this process made, the one that pays for what is
// done once.
double g_firstCallCpu = -1;
long g_firstCallFaults = -1;

long minorFaults() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return u.ru_minflt;
}

// The CPU time one page of fresh memory costs when it is first written (the fault, the kernel's
// zeroing and mapping), in microseconds: the median over a few runs of 256 pages. The first export
// pays it for every page it touches that no earlier one did (page_faults_first); on a virtual
// machine it can be ten times what it is on bare hardware.
double freshPageMicroseconds() {
  constexpr std::size_t kPages = 256;
  const auto pageSize = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  std::vector<double> perPage;
  for (int run = 0; run < 5; ++run) {
    void* memory =
        ::mmap(nullptr, kPages * pageSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return 0;
    auto* bytes = static_cast<volatile char*>(memory);
    const double cpu0 = seconds(CLOCK_PROCESS_CPUTIME_ID);
    for (std::size_t i = 0; i < kPages; ++i) bytes[i * pageSize] = 1;
    perPage.push_back((seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0) / kPages * 1e6);
    ::munmap(memory, kPages * pageSize);
  }
  return percentile(perPage, 0.5);
}

// The floor of the same job: the template read and its rewritten parts inflated and parsed once,
// the report's rewritten parts (their final text) deflated at libdeflate's fastest level, the report
// written. Whatever fills a template cannot do less. Returns the CPU seconds of each repetition.
std::vector<double> floorTimes(const std::string& templatePath, const std::string& reportPath,
                               const std::string& folder, int repetitions) {
  using xlsxgen::ZipPackage;
  std::ifstream in(reportPath, std::ios::binary);
  const std::string reportBytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ZipPackage report = ZipPackage::openBytes(reportBytes);
  ZipPackage original = ZipPackage::openFile(templatePath);
  std::vector<std::string> rewritten, rewrittenText;
  for (const xlsxgen::ZipEntry& e : report.entries()) {
    bool same = false;
    for (const xlsxgen::ZipEntry& t : original.entries())
      same = same || (t.name == e.name && t.crc == e.crc && t.size == e.size);
    if (same) continue;
    rewritten.push_back(e.name);
    rewrittenText.push_back(report.read(e.name));
  }
  libdeflate_compressor* compressor = libdeflate_alloc_compressor(1);
  std::vector<char> buffer;
  std::vector<double> cpu;
  for (int k = 0; k < repetitions; ++k) {
    const double cpu0 = seconds(CLOCK_PROCESS_CPUTIME_ID);
    ZipPackage package = ZipPackage::openFile(templatePath);
    for (const std::string& name : rewritten) {
      if (!package.contains(name)) continue;
      std::string text = package.read(name);
      pugi::xml_document doc;
      benchmark::DoNotOptimize(doc.load_buffer_inplace(text.data(), text.size()));
    }
    for (const std::string& text : rewrittenText) {
      buffer.resize(libdeflate_deflate_compress_bound(compressor, text.size()));
      benchmark::DoNotOptimize(
          libdeflate_deflate_compress(compressor, text.data(), text.size(), buffer.data(), buffer.size()));
      benchmark::DoNotOptimize(libdeflate_crc32(0, text.data(), text.size()));
    }
    const std::string out = folder + "/floor.xlsx";
    if (FILE* f = std::fopen(out.c_str(), "wb")) {
      std::fwrite(reportBytes.data(), 1, reportBytes.size(), f);
      std::fclose(f);
    }
    ::unlink(out.c_str());
    cpu.push_back(seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0);
  }
  libdeflate_free_compressor(compressor);
  return cpu;
}

void FillDefaultTemplate4x199(benchmark::State& state) {
  char folder[] = "/tmp/xlsxgen-bench.XXXXXX";
  if (!::mkdtemp(folder)) {
    state.SkipWithError("mkdtemp");
    return;
  }
  const std::string templatePath = quarn::test::path("XLSXTEST_TEMPLATE");
  quarn::report::ReportRequest request;
  request.templateFolder = templatePath.substr(0, templatePath.rfind('/'));
  request.templateName = templatePath.substr(templatePath.rfind('/') + 1);
  request.reportsFolder = folder;
  request.placeholders = placeholders();
  const auto dev = fullDev();
  std::vector<double> wall, cpu, faults;
  std::size_t bytes = 0;
  // XLSXBENCH_KEEP=path keeps the last report written (to look at it or compare it).
  const char* keep = std::getenv("XLSXBENCH_KEEP");
  // XLSXBENCH_LIBRARY=path measures another build of libxlsxgen.so (an earlier one, to compare).
  if (const char* library = std::getenv("XLSXBENCH_LIBRARY")) quarn::report::setReportLibraryPath(library);
  for (auto _ : state) {
    const long faults0 = minorFaults();
    const double wall0 = seconds(CLOCK_MONOTONIC), cpu0 = seconds(CLOCK_PROCESS_CPUTIME_ID);
    const int rc = quarn::report::MakeReport(*dev, request);
    wall.push_back(seconds(CLOCK_MONOTONIC) - wall0);
    cpu.push_back(seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0);
    faults.push_back(static_cast<double>(minorFaults() - faults0));
    if (g_firstCallCpu < 0) {
      g_firstCallCpu = cpu.back();
      g_firstCallFaults = minorFaults() - faults0;
    }
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
  // The floor, as many times as the report was made (at least 20): the ratios in the same run.
  double floorMedian = 0;
  if (!cpu.empty()) {
    const std::string report = std::string(folder) + "/floor-report.xlsx";
    request.outputPath = report;
    if (quarn::report::MakeReport(*dev, request) == 0) {
      try {
        floorMedian = percentile(floorTimes(templatePath, quarn::report::LastReportOutput(), folder,
                                            std::max<int>(20, static_cast<int>(cpu.size()))),
                                 0.5);
      } catch (const std::exception& e) {
        state.SkipWithError(e.what());
      }
      ::unlink(quarn::report::LastReportOutput().c_str());
    }
  }
  ::rmdir(folder);
  state.counters["peak_rss_MiB"] = peakResidentKiB() / 1024.0;
  state.counters["report_KiB"] = static_cast<double>(bytes) / 1024.0;
  state.counters["calls"] = static_cast<double>(wall.size());
  state.counters["median_ms"] = percentile(wall, 0.5) * 1e3;
  state.counters["p95_ms"] = percentile(wall, 0.95) * 1e3;
  state.counters["cpu_median_ms"] = percentile(cpu, 0.5) * 1e3;
  state.counters["cpu_p95_ms"] = percentile(cpu, 0.95) * 1e3;
  state.counters["first_call_cpu_ms"] = g_firstCallCpu * 1e3;
  state.counters["page_faults_first"] = static_cast<double>(g_firstCallFaults);
  state.counters["page_faults_median"] = percentile(faults, 0.5);
  // What the first export's page faults cost at this machine's price of a fresh page: most of the
  // difference between first_call_cpu_ms and cpu_median_ms.
  const double pageMicroseconds = freshPageMicroseconds();
  state.counters["fresh_page_us"] = pageMicroseconds;
  state.counters["first_faults_ms"] = static_cast<double>(g_firstCallFaults) * pageMicroseconds * 1e-3;
  state.counters["floor_cpu_ms"] = floorMedian * 1e3;
  if (floorMedian > 0) {
    state.counters["x_floor"] = percentile(cpu, 0.5) / floorMedian;
    state.counters["first_x_floor"] = g_firstCallCpu / floorMedian;
  }
}
// Measure with e.g. --benchmark_min_time=2 (the smoke test of the suite runs it briefly).
BENCHMARK(FillDefaultTemplate4x199)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
