// What the run history keeps: one record per finished verification, calibration or relay check, the
// adjustments made to a device between runs, and the small result type of every store operation.
// Texts are UTF-8; pressures in kPa unless a field names the device unit; times in ms since
// 1970-01-01 UTC with the workstation's offset from UTC at that moment.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Outcome.h"

namespace quarn::history {

enum class RunKind { Verification, Calibration, RelayCheck };
enum class RunTag { AsFound, AsLeft };
enum class ReferenceKind { Calibrator, Dorv };
// The workstation's judgement of a channel: every recorded reduced error within errOk x vrCoeff.
enum class Verdict { None, Suitable, Unsuitable };  // None: nothing recorded to judge

// Texts used in the database and the hash (stable; never translated).
const char* kindName(RunKind kind);  // "verification", "calibration", "relay_check"
const char* tagName(RunTag tag);     // "as_found", "as_left"
const char* referenceName(ReferenceKind kind);
const char* verdictName(Verdict verdict);
std::optional<RunKind> kindFromName(const std::string& name);
std::optional<RunTag> tagFromName(const std::string& name);
std::optional<Verdict> verdictFromName(const std::string& name);

struct CalibratorInfo {
  std::string model;
  std::string serial;
  std::string version;  // "major.minor"
};

struct ReferenceInfo {
  ReferenceKind kind = ReferenceKind::Calibrator;
  std::string serial;    // the calibrator's serial, or the Dorv's number
  int module = 0;        // calibrator's reference module 1 or 2; 0 for the Dorv or unknown
  float upperKpa = NAN;  // upper limit used for the uncertainty
};

// The ambient conditions as the protocol states them (text typed by the operator).
struct Conditions {
  std::string temperature;  // °C
  std::string humidity;     // %
  std::string pressure;     // mm Hg
};

// Readiness of a point as the run used it.
struct Readiness {
  int holdS = 0;
  float bandPrc = NAN;
  bool hardMode = false;
};

// What the protocol needs besides the results, so it can be made again from the history.
struct ProtocolInfo {
  std::string number;
  std::string date;  // as printed
  bool periodic = false;
  int decimals = 3;
  int displayUnit = 0;  // calibrator's display unit index 0..7
  float unitFactor = 1;
  std::string referenceList;  // reference equipment text
  // Placeholder controls of the protocol page in order: (control name, text).
  std::vector<std::pair<std::string, std::string>> fields;
};

// One recorded point of one channel. `index` is the record's place in the run's result table.
struct PointResult {
  int index = 0;
  float targetPrc = NAN;  // the point's percent of the range; NaN for a point entered by hand
  float pRef = NAN;       // kPa
  float current = NAN;    // signal unit (mA or V)
  float iExpected = NAN;
  float pFromI = NAN;  // device unit
  float pFromIKPa = NAN;
  float reducedError = NAN;  // % of span
  float uncertainty = NAN;   // device unit
};

// One device under test with its points and the verdict.
struct DeviceResult {
  int channel = 1;  // 1..4
  std::string name;
  std::string model;
  std::string serial;
  std::string inventoryNo;
  std::string owner;
  float rangeMin = 0;  // device unit
  float rangeMax = 0;
  std::string units;
  float minKpa = 0;
  float maxKpa = 0;
  float toKpaMul = 1;
  float signalMin = 4;
  float signalMax = 20;
  std::string signalUnits;
  int signalType = 0;
  int transferFunction = 0;  // 0 linear, 1 square root
  float errOk = 0;           // permissible error, % of span
  float vrCoeff = 0;         // share of errOk used as the verdict's limit
  std::string method;        // measurement-method document of the device
  Verdict verdict = Verdict::None;
  std::vector<PointResult> points;
};

// One relay contact of a relay check.
struct RelayResult {
  int channel = 1;  // 1..4
  int relay = 1;    // 1..2
  bool selected = false;
  float setpointKpa = NAN;
  float hysteresisKpa = NAN;
  uint32_t state = 0;  // 1 while the contact is closed
  float pOnKpa = NAN;
  float pOffKpa = NAN;
};

struct RunRecord {
  int64_t startedAtMs = 0;
  int64_t finishedAtMs = 0;
  int utcOffsetMin = 0;
  std::string workstation;
  RunKind kind = RunKind::Verification;
  RunTag tag = RunTag::AsFound;
  CalibratorInfo calibrator;
  ReferenceInfo reference;
  Conditions conditions;
  std::string method;  // the run's method statement
  int pointSet = 0;    // 1..5; 0 when not known
  int pointCount = 0;  // points planned
  bool handInput = false;
  Readiness readiness;
  ProtocolInfo protocol;
  std::vector<DeviceResult> devices;
  std::vector<RelayResult> relays;  // relay check only
};

enum class AdjustmentKind { CurrentTrim, SensorTrim, ZeroTrim, TrimRestore, Rerange };
const char* adjustmentName(AdjustmentKind kind);  // "current_trim", ...
std::optional<AdjustmentKind> adjustmentFromName(const std::string& name);

// A change made to a device between runs (a HART trim, a restored factory trim, a new range).
struct Adjustment {
  int64_t atMs = 0;
  int utcOffsetMin = 0;
  std::string workstation;
  int channel = 0;  // 1..4; 0 when not known
  std::string serial;
  std::string deviceName;
  AdjustmentKind kind = AdjustmentKind::CurrentTrim;
  std::string note;
};

// ---- results of the store ----

enum class ErrorCode {
  None,
  CannotOpen,    // missing folder, no permission, a folder where the file should be
  NotADatabase,  // the file is not an SQLite database
  NotAHistory,   // an SQLite database of some other program
  NewerSchema,   // written by a newer version of the program
  Damaged,       // a damaged page or a broken meta table
  ReadOnly,      // the file or its folder cannot be written
  Locked,        // another program holds the write lock
  DiskFull,
  Io,             // any other read or write failure
  NotFound,       // no such run or nothing for that serial
  InvalidRecord,  // a record the store refuses (says which field)
  ChainBroken,    // the history was changed outside the program (or differs from its anchors)
};

struct Error {
  ErrorCode code = ErrorCode::None;
  std::string message;  // UTF-8, Russian, for the operator; names the file
  const std::string& why() const { return message; }
};

// Ok with a value, or the reason: the data layer's result type, with the history's kinds of error.
template <class T>
using Result = data::Result<T, Error>;

// ---- what the queries return ----

struct DeviceSummary {
  int channel = 1;
  std::string name;
  std::string model;
  std::string serial;
  Verdict verdict = Verdict::None;
};

struct RunSummary {
  int64_t runId = 0;       // entry number of the run as first stored
  int64_t contentId = 0;   // entry that holds the current content (the latest correction, or runId)
  bool cancelled = false;  // a cancellation refers to the run
  int64_t startedAtMs = 0;
  int64_t finishedAtMs = 0;
  int utcOffsetMin = 0;
  std::string workstation;
  RunKind kind = RunKind::Verification;
  RunTag tag = RunTag::AsFound;
  std::string calibratorSerial;
  std::vector<DeviceSummary> devices;
};

struct ListFilter {
  std::string serial;            // exact device serial; empty: any
  std::optional<int64_t> since;  // runs started at or after (ms UTC)
  std::string deviceName;        // part of the device name; empty: any
  bool includeCancelled = false;
  int limit = 0;  // newest first; 0: all
};

struct StoredRun {
  int64_t runId = 0;
  int64_t contentId = 0;
  std::vector<int64_t> corrections;  // entries correcting the run, oldest first
  bool cancelled = false;
  std::string cancelReason;
  int64_t recordedAtMs = 0;  // when the current content was stored
  std::string hash;          // hash of the entry holding the current content
  RunRecord record;
};

// A point of the as-found run beside its counterpart in the as-left run.
struct PointChange {
  float targetPrc = NAN;
  std::optional<PointResult> asFound;
  std::optional<PointResult> asLeft;
  float errorChange = NAN;  // as-left reduced error - as-found reduced error, % of span
};

struct RunPair {
  std::string serial;
  std::optional<StoredRun> asFound;
  std::optional<StoredRun> asLeft;
  std::vector<PointChange> points;
  // The device's adjustments from the as-found run's start to the as-left run's start, oldest first.
  std::vector<Adjustment> adjustments;
};

// A calibration as the history holds it, found from the run that ends it: that run (the as-left run, or
// an as-found run when nothing was adjusted), the as-found run just before an as-left run, and the
// adjustments of the devices between the two runs' starts, device by device in channel order, each
// device's oldest first.
struct StoredCalibration {
  StoredRun last;
  std::optional<StoredRun> asFound;  // none for an as-found run, or when the history has none before it
  std::vector<Adjustment> adjustments;
};

// The tag the operator is offered for a new run.
struct TagOffer {
  RunTag tag = RunTag::AsFound;
  int64_t asFoundRunId = 0;          // the same day's as-found run it would pair with
  std::vector<std::string> serials;  // the devices that were adjusted since that run
  std::string reason;                // UTF-8 for the operator; empty for as-found
};

// Who made a correction or a cancellation: the workstation and its operator.
struct Actor {
  std::string workstation;
  std::string operatorName;
};

// A record of the chain kept outside the history file, which the file must agree with: the head the
// workstation remembers writing (in its settings folder), the entry a printed protocol names, the head
// a lab server acknowledged. An anchor names an entry by its number and its hash (or the hash's first
// 12 or more hexadecimal digits, as a protocol prints it).
struct Anchor {
  std::string source;  // UTF-8, what keeps it, for the messages ("рабочая станция", "протокол «…»")
  int64_t seq = 0;
  std::string hash;
  // The history's last entry must be this one: the anchor of the only program that writes the file,
  // updated at every write. `pendingSeq`/`pendingHash` name a write made just before the program
  // stopped, which may or may not have reached the file; either head is the file's.
  bool head = false;
  int64_t pendingSeq = 0;
  std::string pendingHash;
  // The history's first entry; a file whose first entry differs is another history.
  std::string firstHash;
  // Kept for another file of the same history (the copy is not the file the workstation writes): a
  // copy that ends before the anchor is older than the workstation's history, which is said but is no
  // fault of the copy.
  bool ofOriginal = false;
};

// How the file compares with one anchor.
struct AnchorFinding {
  enum class Status { Matches, OlderCopy, Behind, Differs, Ahead };
  Status status = Status::Matches;
  std::string source;
  int64_t seq = 0;
  std::string message;  // UTF-8; empty when it matches
};

struct ChainCheck {
  bool ok = false;
  int64_t entries = 0;   // entries walked
  int64_t firstBad = 0;  // first entry found wrong; 0 when none
  std::string problem;   // UTF-8, what is wrong with it
  std::vector<AnchorFinding> anchors;
  std::string note;  // UTF-8: what is not a fault but worth saying (an older copy)
  int64_t verifiedFrom =
      1;             // a read's check: the first entry walked in full (older ones were checked earlier)
  int64_t head = 0;  // the file's last entry and its hash
  std::string headHash;
};

}  // namespace quarn::history
