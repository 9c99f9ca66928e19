// The engine's inner state, shared by the parts of the bench (calibrator unit, Kesto module, Dorv,
// pressure system, fault injection). Not part of the public interface.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>

#include "quarnsim/engine.h"
#include "quarnsim/uail_codec.h"
#include "random_source.h"

namespace quarnsim {

// Pressure system: one volume with the Quarn's input and vent valves or the Brenk's regulator.
class PressureSystem {
 public:
  explicit PressureSystem(const Scenario& scenario);

  // Integrates from the current time to `tS`.
  void advance(double tS, const Scenario& scenario);

  double pressure = 0;  // gauge kPa
  double source = 0;    // Quarn: pressure behind the input valve
  bool inputOpen = false;
  bool ventOpen = false;
  int mode = 0;          // Brenk: 0 measure, 1 regulate, 2 vent
  double setpoint = 0;   // Brenk
  double speedKPaS = 0;  // smoothed rate of change
  double tS = 0;

  // Operator script progress.
  size_t operatorPoint = 0;
  double operatorSettledS = -1;  // time the system first settled at the current point, -1 not yet

 private:
  void step(double dt, const Scenario& scenario);
  void runOperator(const Scenario& scenario);
};

struct CalibratorUnitState {
  bool remote = false;
  int refSource = 0, subRange = 0, pressType = 1, units = 0, decimals = 3, averaging = 5;
  float readyBand1 = 0.05f, readyBand2 = 0.05f;
  int autoRange = 1;
  double sensorOffsetKPa = 0;
  int deviceType = 105;
};

struct KestoState {
  static constexpr size_t kFileSize = 64;
  int inputType = 8;
  std::array<uint8_t, kFileSize> setup{};  // configuration memory the write request lands in
  size_t position = 0;
  int openFile = 0;
  std::array<bool, 8> switchClosed{};
};

struct Engine::Impl {
  explicit Impl(Scenario s);

  Scenario scenario;
  RandomSource random;
  PressureSystem pressure;
  CalibratorUnitState unit;
  KestoState kesto;
  std::array<std::unique_ptr<Transmitter>, 4> transmitters;
  HartLine hart;

  // Time: host clock extended to 64 bits, engine time in microseconds since the first contact.
  bool clockStarted = false;
  uint32_t lastHostMs = 0;
  int64_t hostUs = 0;  // engine time matching lastHostMs
  int64_t simUs = 0;   // time the bench has been advanced to (may run ahead of the host)

  bool connected = true;
  std::array<long, 4> requests{};     // per FaultTarget
  std::vector<long> faultHits;        // per fault: requests hit so far
  std::vector<long> faultInScope;     // per fault: requests of its target and command seen so far
  std::vector<int64_t> faultStartUs;  // per fault: when a request-triggered disconnect struck

  int64_t hostToUs(uint32_t nowMs);  // also advances the bench
  uint32_t usToHostMs(int64_t us) const;
  void advanceBench(int64_t us);
  bool faultDisconnected() const;
  // A silent fault on the whole bench also keeps the HART modem quiet.
  bool wholeBenchSilent() const;
  bool present() const { return connected && !faultDisconnected(); }
  // A complete request frame (or a damaged one) reached the device at `atUs` on `port`.
  void onRequest(LinePort& port, const uail::RequestReceiver::Result& result, int64_t atUs);
  double turnaroundMs(FaultTarget target);

  // Readings.
  double referenceReadingKPa();  // as the calibrator's own sensor reads it, in its pressure type
  double dorvReadingKPa();
  float kestoValue(int channel) const;
  uint16_t statusWord() const;
  uint8_t contacts() const;
  void updateSwitches();

  // Answers: the body of the answer frame ("1;105;"), nullopt when the request is not answered.
  std::optional<std::string> calibratorAnswer(const uail::Request& request);
  std::optional<std::string> kestoAnswer(const uail::Request& request);
  std::optional<std::string> dorvAnswer(const uail::Request& request);

  // What the line carries back for one request to `target`, after the faults in scope.
  struct Outgoing {
    std::vector<uint8_t> bytes;
    double extraDelayMs = 0;
  };
  std::optional<Outgoing> applyFaults(FaultTarget target, int command, std::optional<std::string> body);
};

// Answer bodies.
std::string okBody(int address);
std::string errorBody(int address, int code);

}  // namespace quarnsim
