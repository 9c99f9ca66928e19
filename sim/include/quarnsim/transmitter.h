// A simulated pressure transmitter on one channel of the Kesto module: the analog loop current it
// drives and the HART slave that answers on its loop.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quarnsim {

// HART transfer-function codes the simulated transmitter implements.
enum class TransferFunction : uint8_t { Linear = 0, SquareRoot = 1 };

// Current-output types as the device-specific command 128 reports them.
// Output types: codes 0..3 are the current outputs as the device-specific command 128 reports them;
// Voltage is a voltage output between `voltageLow` and `voltageHigh` (reported as code 4).
enum class OutputType : uint8_t { mA0_5 = 0, mA4_20 = 1, mA5_0 = 2, mA20_4 = 3, Voltage = 4 };

// Faults of the HART side of one transmitter.
struct HartFaults {
  bool silent = false;         // never answers
  bool badChecksum = false;    // answers with a corrupted checksum
  int damagedFirst = 0;        // the answers to its first N requests carry a corrupted checksum
  bool truncated = false;      // answers with the last bytes of the frame missing
  int errorCommand = -1;       // this command (0..255) is answered with `errorCode` instead of its data
  uint8_t errorCode = 6;       // response code for `errorCommand` (32: busy)
  int errorCount = -1;         // only the first N requests of `errorCommand` get it; -1: all of them
  int stopAfterRequests = -1;  // answers this many requests, then falls silent; -1: never stops
  bool trimIgnored = false;    // answers the trims (43, 45, 46, 82, 123) as done but keeps its calibration
};

struct TransmitterConfig {
  bool present = true;  // something is connected on the channel (an absent one draws no current)
  bool hart = true;     // answers HART at all

  // Identity.
  uint8_t pollingAddress = 0;            // 0..63
  uint16_t expandedDeviceType = 0x9901;  // manufacturer code in the high byte
  uint32_t deviceId = 0x000001;          // 24 bits
  uint8_t hartRevision = 7;              // 5 or 7: shapes the command 0 answer
  uint8_t deviceRevision = 1;
  uint8_t softwareRevision = 1;
  uint8_t hardwareRevision = 1;   // 5 bits
  uint8_t physicalSignaling = 0;  // 3 bits
  uint8_t deviceFlags = 0;
  uint8_t requestPreambles = 5;
  uint8_t responsePreambles = 5;
  uint16_t manufacturerId = 0x0099;
  uint16_t privateLabelId = 0x0099;
  uint8_t deviceProfile = 1;
  uint32_t sensorSerial = 0x010203;  // 24 bits
  uint32_t finalAssemblyNumber = 0;  // 24 bits
  uint8_t alarmSelection = 0;        // 0 high, 1 low

  std::string tag = "PT-1";                            // up to 8 characters, HART packed-ASCII alphabet
  std::string descriptor = "SIM";                      // up to 16 characters
  std::string message = "QUARN SIM";                   // up to 32 characters
  uint8_t dateDay = 1, dateMonth = 1, dateYear = 126;  // year - 1900

  // Measurement and output.
  uint8_t units = 12;                       // HART units code of the range values (12 = kPa)
  double lowerRange = 0, upperRange = 600;  // in `units`
  double lowerSensorLimit = -100, upperSensorLimit = 2500, minSpan = 10;  // in `units`
  double damping = 0.5;  // s, first-order lag on the pressure
  TransferFunction function = TransferFunction::Linear;
  OutputType output = OutputType::mA4_20;
  double errorPercent = 0;              // constant error in % of span on the output
  double driftPercentPerHour = 0;       // error growing with time since the start, % of span per hour
  double saturationLowPercent = -1.25;  // output limits in % of span beyond the ends (0 % .. 100 %)
  double saturationHighPercent = 103.125;
  double voltageLow = 0, voltageHigh = 10;  // V, for OutputType::Voltage
  double sensorTemperature = 23;            // °C, the secondary variable
  bool loopCurrentEnabled = true;  // revision 7: analog output active (revision 5: only at address 0)
  bool writeProtected = false;

  // Output calibration. The output stage drives (analogGain * (outputK * y + outputB) + analogOffset)
  // for an ideal current y: outputK/outputB are the device's own coefficients (read with command 122,
  // written with 123, adjusted by the loop current trims 45/46); analogGain/analogOffset are the
  // imperfection of the hardware that a trim has to cancel.
  double outputK = 1, outputB = 0;
  double analogGain = 1, analogOffset = 0;
  uint8_t outputParam = 0;  // second byte of the command 128 answer

  // Sensor calibration: reading = sensorTrimGain * (pressure + error) + sensorTrimOffset, in kPa;
  // changed by the sensor trim (82) and the zero (43).
  double sensorTrimGain = 1, sensorTrimOffsetKPa = 0;
  double lowerTrimPoint = 0, upperTrimPoint = 2500;  // in `units`, as the last sensor trim set them

  bool refuseCommand45 = false;  // refuses command 45 so the host takes the device-specific trim path
  HartFaults faults;
};

// The configuration passed to the constructor is also the factory state that the restore command
// (136) brings back; later changes through config() or HART writes are field changes.
class Transmitter {
 public:
  explicit Transmitter(TransmitterConfig config = {});
  ~Transmitter();
  Transmitter(const Transmitter&) = delete;
  Transmitter& operator=(const Transmitter&) = delete;

  // Makes this the transmitter a new Transmitter(config) would be: time, pressure and damping,
  // loop mode, trims, status, counters and the commands seen all start over; only the storage is
  // kept (a host that makes devices by the thousand saves an allocation per device).
  void startOver(TransmitterConfig config);

  // Applied pressure in kPa at time nowS (seconds, monotonic); also advances the damping.
  void setPressure(double kPa, double nowS);
  // Advances time without a new pressure.
  void advance(double nowS);

  // Current the loop carries now in mA (V for a voltage output); fixed-current mode wins; 0 when
  // nothing is present.
  double loopCurrent() const;
  bool fixedCurrentMode() const;
  // The damped primary variable in `units`.
  double primaryValue() const;

  // One complete HART request frame (preambles optional, trailing bytes ignored). Returns the answer
  // frame with its preambles when this device is addressed and answers, else an empty vector.
  std::vector<uint8_t> handleFrame(const std::vector<uint8_t>& frame);

  const TransmitterConfig& config() const;
  TransmitterConfig& config();

  // Number of request frames addressed to this device so far.
  int requestsSeen() const;
  // The command numbers of those frames, in the order they came.
  const std::vector<uint8_t>& commandsSeen() const;

  struct State;  // defined inside the simulator's HART part

 private:
  std::unique_ptr<State> state_;
};

}  // namespace quarnsim
