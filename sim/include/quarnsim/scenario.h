// Everything that shapes one simulated bench: calibrator model and identity, its settings, the
// pressure system, the Kesto module with its pressure switches, the four transmitters, the Dorv
// transducer, line timing and injected faults. Loaded from a small key = value text (see
// docs/sim.md); every key can also be given on the command line of quarn-sim.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "quarnsim/transmitter.h"

namespace quarnsim {

enum class Model { Quarn, Brenk };

// A delay drawn uniformly from [minMs, maxMs] for each answer.
struct DelayRange {
  double minMs = 20;
  double maxMs = 80;
};

// A pressure switch wired to one contact input of the Kesto module. The contact closes (the input
// reads 0) when the pressure rises to `setpointKPa` and opens again when it falls to
// `setpointKPa - hysteresisKPa`; `closesOnRise` = false makes it the opposite (opens on rise).
struct PressureSwitch {
  bool fitted = false;
  double setpointKPa = 0;
  double hysteresisKPa = 0;
  bool closesOnRise = true;
};

// Which part of the bench a fault hits.
enum class FaultTarget { Calibrator, Kesto, Dorv, Any };

enum class FaultKind {
  Silent,       // the request is not answered
  Late,         // the answer comes `delayMs` later than usual
  Garbage,      // random bytes instead of the answer
  BadChecksum,  // the answer's checksum is wrong
  ErrorCode,    // the answer carries error `code` instead of its data
  Disconnect,   // the port goes away (the host sees a lost device) for `durationMs`, -1 for good
};

struct Fault {
  FaultTarget target = FaultTarget::Any;
  FaultKind kind = FaultKind::Silent;
  int command = -1;          // only requests of this type; -1 any
  int code = 11;             // ErrorCode: the code sent
  double delayMs = 1000;     // Late: extra delay
  long afterRequests = 0;    // starts after this many requests to the target were answered normally
  long nth = 0;              // starts at the nth request in scope (target and `command`), 1 = the first;
                             // hits that one only unless `count` says more; 0: not used
  long count = -1;           // hits this many requests, then stops; -1 without end
  double probability = 1.0;  // chance that a request in scope is hit
  double atMs = -1;          // Disconnect: time (ms since the engine started) when it strikes
  double durationMs = -1;    // Disconnect: how long the port stays away, -1 for good
};

// Scripted operator at the Quarn's pressure source: brings the source to each pressure of the list
// in turn (opening the input valve when asked), keeps it there for `dwellS` once the system has
// settled within `toleranceKPa`, then goes on to the next. Makes a Quarn verification unattended.
struct OperatorScript {
  std::vector<double> pointsKPa;
  double dwellS = 10;
  double toleranceKPa = 0.5;
  bool opensInput = true;
  bool repeat = false;
};

struct Scenario {
  Model model = Model::Quarn;
  uint64_t seed = 1;
  int deviceType = -1;  // identification answer; -1: 105 for the Quarn, 84 for the Brenk

  // Line timing: the turnaround between the last byte of a request and the first of its answer.
  DelayRange turnaround{20, 80};      // the calibrator's main unit
  DelayRange kestoTurnaround{5, 25};  // the Kesto module (the host reads it after 80-110 ms)
  DelayRange dorvTurnaround{20, 80};  // the Dorv on its own port
  DelayRange hartTurnaround{20, 80};  // a HART transmitter behind the modem
  // Per channel: the turnaround of that channel's transmitter, overriding `hartTurnaround`.
  std::array<std::optional<DelayRange>, 4> channelTurnaround{};
  bool requireRemote = true;  // control, setpoint, settings write and zero need remote operation

  // Identification.
  std::string serial = "Q1-004711";
  std::string madeDate = "15.03.2024";
  double pLimitMinKPa = -95;
  double pLimitMaxKPa = 2500;
  int versionMajor = 2;
  int versionMinor = 15;
  std::string modelName = "QC-2500";  // Quarn
  int modelNo = 250;                  // Brenk
  int module1Class = 1;
  int module2Class = 1;

  // Settings as the device holds them at power-up.
  int refSource = 0;
  int subRange = 0;
  int pressType = 1;  // 0 absolute, 1 gauge, 2 gauge-vacuum
  int units = 0;      // 0 kPa .. 7 psi
  int decimals = 3;
  int averaging = 5;
  float readyBand1 = 0.05f;
  float readyBand2 = 0.05f;
  int regMode = 0;  // Brenk: 0 measure, 1 regulate, 2 vent
  int autoRange = 1;
  float setpointKPa = 0;  // Brenk: stored setpoint

  // Pressure system (pressures gauge, kPa).
  double initialKPa = 0;
  double baroKPa = 101.325;
  double noiseKPa = 0.002;  // standard deviation of the reference reading
  double baroNoiseKPa = 0.002;
  double sourceKPa = 650;        // Quarn: pressure behind the input valve
  double inputTauS = 2.0;        // Quarn: time constant through the input valve
  double ventTauS = 1.5;         // both: time constant through the vent
  double regRateKPaS = 50;       // Brenk: fastest regulation speed
  double regTauS = 0.8;          // Brenk: time constant of the final approach
  double leakKPaPerMin = 0;      // pressure lost per minute with everything closed
  double zeroOffsetKPa = 0;      // reference sensor offset until a zero adjustment
  double module2LimitKPa = 250;  // Quarn: the low-range module serves |p| up to this in automatic mode
  OperatorScript operatorScript;

  // Kesto module.
  bool kestoFitted = true;
  int kestoDeviceType = 3;
  double kestoNoiseMA = 0;
  int kestoInputType = 8;  // input type at power-up (6: readings in tenths of a mA)
  std::array<int, 4> channelStatus = {-1, -1, -1, -1};  // forced two-bit status, -1: from the loop
  std::array<PressureSwitch, 8> switches{};
  std::array<TransmitterConfig, 4> channels{};

  // Dorv transducer: on its own port (Brenk path) and as reported by the Quarn (command 5).
  bool dorvFitted = true;    // answers on its own port
  bool dorvOnQuarn = false;  // the Quarn reports it as attached
  int dorvType = 81;         // 13, 43, 81, 108 are the types the host knows
  int dorvAddress = 0;
  int dorvUnit = 1;  // 0 MPa, 1 kPa, 2 Pa, 3 kgf/m2, 4 kgf/cm2, 5 mmHg, 6 bar, 7 psi
  int dorvPressType = 1;
  double dorvLowKPa = 0;
  double dorvHighKPa = 2500;
  uint32_t dorvSerial = 52311;
  double dorvNoiseKPa = 0.001;
  uint32_t dorvBaud = 0;  // the only speed it talks at; 0 any

  std::vector<Fault> faults;

  // Default bench: four 0-600 kPa 4-20 mA HART transmitters, one per channel, at polling address 0.
  Scenario();
};

// Applies one `key = value` setting. Returns "" or an error text naming the key.
std::string applySetting(Scenario& scenario, std::string_view key, std::string_view value);
// Applies a whole text (one setting per line, "#" comments, blank lines). Errors name the line.
std::string applyScenarioText(Scenario& scenario, std::string_view text);
// Reads and applies a file.
std::string loadScenarioFile(Scenario& scenario, const std::string& path);
// The options of quarn-sim's command line that shape the bench (--scenario FILE, --model, --channels,
// --hart-addresses, --fault, --seed, --turnaround-ms, --set KEY=VALUE), so the program and a host
// that runs the engine in-process read them alike. Applies them to `scenario`, the scenario file
// first so that every other option overrides it, and leaves every other argument in `args` in its
// order. Returns "" or an error text.
std::string applyBenchOptions(Scenario& scenario, std::vector<std::string>& args);
// Parses a fault description such as "kesto silent after=3", "calibrator error 11 cmd=1" or
// "kesto badcrc cmd=42 nth=3" (the third answer to a data-file read is damaged).
std::string parseFault(std::string_view text, Fault& fault);

}  // namespace quarnsim
