// The simulated bench behind the calibrator's serial line (and the Dorv transducer's own line):
// calibrator main unit (Quarn or Brenk), Kesto module, HART modem with four transmitters, pressure
// system. Time comes only from the host clock values passed into the ports, so the engine runs in
// virtual time in-process and in real time under quarn-sim.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "quarnsim/hart_line.h"
#include "quarnsim/line_port.h"
#include "quarnsim/scenario.h"
#include "quarnsim/transmitter.h"

namespace quarnsim {

class Engine {
 public:
  explicit Engine(Scenario scenario = Scenario());
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  LinePort& calibratorPort();
  LinePort& dorvPort();
  const Scenario& scenario() const;

  // Moves simulated time to the host clock value (never backwards). Port calls do this themselves.
  void advanceTo(uint32_t nowMs);
  // Seconds of simulated time since the first host contact.
  double nowS() const;

  // Pressure system (gauge kPa).
  double pressureKPa() const;
  void setPressureKPa(double kPa);
  void setSourceKPa(double kPa);
  // The operator at the Quarn's pressure source brings the system to `kPa`: the source goes there and
  // the input valve opens (the vent closes). Stops a running operator script. A host harness calls it
  // with the target its verification asks for, which makes a Quarn run unattended.
  void operatorSetsPressure(double kPa);
  // The operator closes the input and opens the vent.
  void operatorVents();
  bool inputValveOpen() const;
  bool ventValveOpen() const;
  int operatingMode() const;  // Brenk: 0 measure, 1 regulate, 2 vent
  double setpointKPa() const;
  bool remoteOperation() const;
  double baroKPa() const;

  // Kesto module.
  int kestoInputType() const;
  int selectedChannel() const;
  uint8_t contactInputs() const;          // bit k = contact input k, 0 = closed
  float kestoReading(int channel) const;  // the value file 1 holds for channel 0..3 right now
  uint16_t channelStatusWord() const;

  Transmitter& transmitter(int channel);
  HartLine& hartLine();

  // Requests that reached a part of the bench (answered or not).
  long requestsSeen(FaultTarget target) const;
  void addFault(const Fault& fault);
  void clearFaults();
  // Takes both ports away (the host sees a lost device) or brings them back.
  void setConnected(bool connected);
  bool connected() const;

  struct Impl;

 private:
  friend class LinePort;
  std::unique_ptr<Impl> impl_;
  LinePort calibratorPort_;
  LinePort dorvPort_;
};

}  // namespace quarnsim
