// The report assembly on hostile values: a record whose channels, header texts and results come from
// the input (texts without their terminator, NaN and infinite numbers, any decimals and unit index),
// and placeholder and method texts from the input, assembled into the exchange block as "в Excel"
// does, without the file system. The block must be sealed (its checksum right), every count within
// its limit, every text readable to its end, and the report library must read it as a job whose
// tables have the block's number of cells.
//
// Input: byte 0 bits 0..3 the enabled channels, bit 4 calibration, bit 5 periodic; byte 1 the
// decimals; byte 2 the display unit; 4 bytes the unit factor; 1 byte the number of result records;
// then each enabled channel's TDevChannel as it lies in the record; the header's five short texts
// (64 bytes), a length byte and that many bytes of the reference-equipment list; each record's
// TPovResult; the rest is lines "name=text", taken in turn as a placeholder and as a row of the
// method grid.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "RunControl.h"
#include "TDev.h"
#include "make_report.h"
#include "report_exchange.h"
#include "report_job.h"
#include "xlsx_error.h"

namespace {

static_assert(sizeof(TDevChannel) == 376, "the seeds (fuzz/corpus/make_seeds.py) lay a channel out so");
static_assert(sizeof(TPovResult) == 104, "the seeds lay a result record out so");

struct Input {
  const uint8_t* data;
  size_t size;
  size_t pos = 0;
  // Copies up to n bytes into `to` (what the input lacks stays as it was); returns how many.
  size_t take(void* to, size_t n) {
    const size_t k = n < size - pos ? n : size - pos;
    if (k) std::memcpy(to, data + pos, k);
    pos += k;
    return k;
  }
  uint8_t byte() {
    uint8_t b = 0;
    take(&b, 1);
    return b;
  }
};

// The seal as the report library checks it (0xFF plus every byte before the checksum, modulo 256),
// summed byte by byte here rather than the assembly's own way. The loop runs over the whole 63 KB
// block for every input and has no branch the input decides: with coverage, comparison tracing and
// a shadow check on every byte it cost more than the assembly itself while telling the fuzzer
// nothing, so it is compiled without them (it reads only the static block, within its size). Not
// inlined, or it would take the instrumentation of its caller.
__attribute__((noinline, no_sanitize("address", "undefined", "coverage"))) uint8_t sealOf(
    const TXlsxExchange& block) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(&block);
  uint8_t sum = 0xFF;
  for (size_t i = 0; i < offsetof(TXlsxExchange, checksum); ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
  return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = [] {
    quarn::report::setMessageSink([](const std::string&, const std::string&) {});
    return true;
  }();
  (void)quiet;
  static const std::unique_ptr<TDev> record = std::make_unique<TDev>();
  TDev& dev = *record;
  std::memset(static_cast<void*>(&dev), 0, sizeof dev);

  Input in{data, size};
  const uint8_t flags = in.byte();
  dev.cDigits = static_cast<int8_t>(in.byte());
  dev.settings.units = static_cast<int8_t>(in.byte());
  in.take(&dev.settings.unitFactor, sizeof dev.settings.unitFactor);
  // Every record costs a cell in 29 tables: the count is bounded by what the input could describe.
  const size_t records = std::min<size_t>(in.byte() % (POV_POINTS_MAX + 1), 16 + size / 64);
  for (int c = 0; c < 4; ++c) {
    if (!(flags & (1u << c))) continue;
    in.take(&dev.devCh[c], sizeof dev.devCh[c]);
    dev.devCh[c].enabled = 1;
  }
  TPovHeader& h = dev.povHeader;
  in.take(h.temp, sizeof h.temp);
  in.take(h.hum, sizeof h.hum);
  in.take(h.pres, sizeof h.pres);
  in.take(h.protocolNo, sizeof h.protocolNo);
  in.take(h.date, sizeof h.date);
  in.take(h.etalonList, in.byte());
  h.isCalib = (flags >> 4) & 1;
  h.isPeriodic = (flags >> 5) & 1;
  for (size_t i = 0; i < records; ++i) {
    in.take(&dev.results[i], sizeof dev.results[i]);
    dev.results[i].valid &= 1;
  }
  dev.pointIdx = static_cast<int32_t>(records);

  quarn::report::ReportRequest request;
  request.templateFolder = "/template_xml";
  request.templateName = "Протокол поверки.xlsx";
  request.outputPath = "/reports/out.xlsx";  // given, so no folder is made
  const std::string rest(reinterpret_cast<const char*>(data) + in.pos, size - in.pos);
  size_t start = 0;
  for (bool placeholder = true; start < rest.size(); placeholder = !placeholder) {
    size_t end = rest.find('\n', start);
    if (end == std::string::npos) end = rest.size();
    const std::string line = rest.substr(start, end - start);
    const size_t eq = line.find('=');
    const std::string name = line.substr(0, eq), text = eq == std::string::npos ? "" : line.substr(eq + 1);
    (placeholder ? request.placeholders : request.methods).emplace_back(name, text);
    start = end + 1;
  }

  int validRecords = 0;
  for (int i = 0; i < POV_POINTS_MAX; ++i) validRecords += dev.results[i].valid != 0;
  const bool refusable = validRecords == 0 || validRecords > quarn::data::kProtocolRecordsMax;

  const int rc = quarn::report::AssembleReport(dev, request);
  // A protocol without results, or with more than its tables take, is refused (-3), and only then.
  if ((rc == -3) != (refusable && rc != -1)) std::abort();
  if (rc == 0) {
    TXlsxExchange& block = quarn::report::ReportBlock();
    if (sealOf(block) != block.checksum) std::abort();
    try {
      const xlsxgen::ReportJob job = xlsxgen::readExchangeBlock(block);
      for (const xlsxgen::ReportTable& t : job.tables)
        if (t.cells.size() != static_cast<size_t>(job.columnCount)) std::abort();
    } catch (const xlsxgen::XlsxError&) {
      std::abort();  // the assembly never exceeds a limit of the block
    }
  } else if (rc != -1 && rc != -2 && rc != -3) {
    std::abort();
  }
  quarn::report::FreeReport();
  if (quarn::report::ReportBlock().pairCount != 0) std::abort();
  return 0;
}
