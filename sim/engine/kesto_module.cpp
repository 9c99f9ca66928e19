// The Kesto module at UAIL address 3: the data file with the four loop currents and the channel
// status word, the contact inputs of the pressure switches, the HART channel switch and the
// configuration memory that takes the input-type descriptor.
#include <cmath>
#include <cstring>

#include "bench.h"

namespace quarnsim {

namespace {

constexpr int kAddress = 3;
constexpr int kDataFile = 1;
constexpr size_t kCurrentsAt = 16;
constexpr size_t kStatusAt = 56;
constexpr size_t kMaxRead = 32;      // bytes one read request may ask for
constexpr int kContactInputs = 10;   // argument of the contact-input request
constexpr int kTenthsInputType = 6;  // input type whose readings are in tenths of a mA

enum Code { kNoCommand = 1, kBadFormat = 2, kNoParam = 3, kRange = 6, kNoFile = 7 };

std::string dataBody(const std::string& field) { return std::to_string(kAddress) + ";" + field + ";"; }

}  // namespace

float Engine::Impl::kestoValue(int channel) const {
  double mA = transmitters[channel]->loopCurrent();
  if (kesto.inputType == kTenthsInputType) mA *= 10.0;
  return static_cast<float>(mA);
}

uint16_t Engine::Impl::statusWord() const {
  uint16_t word = 0;
  for (int ch = 0; ch < 4; ++ch) {
    int bits = scenario.channelStatus[ch];
    if (bits < 0) {
      const Transmitter& t = *transmitters[ch];
      if (!t.config().present) {
        bits = 1;  // open loop
      } else if (t.loopCurrent() > 24.0) {
        bits = 2;  // overload
      } else {
        bits = 0;
      }
    }
    word |= static_cast<uint16_t>((bits & 3) << (2 * ch));
  }
  return word;
}

void Engine::Impl::updateSwitches() {
  for (size_t k = 0; k < scenario.switches.size(); ++k) {
    const PressureSwitch& sw = scenario.switches[k];
    if (!sw.fitted) {
      kesto.switchClosed[k] = false;
      continue;
    }
    const double p = pressure.pressure;
    const bool aboveOn = p >= sw.setpointKPa;
    const bool belowOff = p <= sw.setpointKPa - std::fabs(sw.hysteresisKPa);
    bool& tripped = kesto.switchClosed[k];  // "tripped" = the state reached on rising pressure
    if (sw.closesOnRise) {
      if (aboveOn) tripped = true;
      if (belowOff) tripped = false;
    } else {
      // Opens on rise: closed below the reset point, open from the set point upwards.
      if (aboveOn) tripped = false;
      if (belowOff) tripped = true;
    }
  }
}

uint8_t Engine::Impl::contacts() const {
  uint8_t bits = 0xFF;  // an open contact (or nothing wired) reads 1
  for (size_t k = 0; k < 8; ++k) {
    if (scenario.switches[k].fitted && kesto.switchClosed[k]) bits &= static_cast<uint8_t>(~(1u << k));
  }
  return bits;
}

std::optional<std::string> Engine::Impl::kestoAnswer(const uail::Request& rq) {
  const auto& f = rq.fields;
  auto oneInt = [&]() -> std::optional<long> {
    if (f.empty()) return std::nullopt;
    return uail::parseInt(f[0]);
  };

  switch (rq.type) {
    case 0:
      return dataBody(std::to_string(scenario.kestoDeviceType));

    case 1: {
      const auto what = oneInt();
      if (!what) return errorBody(kAddress, kBadFormat);
      if (*what != kContactInputs) return errorBody(kAddress, kNoParam);
      return dataBody(std::to_string(contacts()));
    }

    case 5: {  // route the HART modem to a channel
      const auto channel = oneInt();
      if (!channel) return errorBody(kAddress, kBadFormat);
      if (*channel < 0 || *channel > 3) return errorBody(kAddress, kRange);
      hart.selectChannel(static_cast<int>(*channel));
      return okBody(kAddress);
    }

    case 40: {  // open
      const auto file = oneInt();
      if (!file) return errorBody(kAddress, kBadFormat);
      if (*file != kDataFile) return errorBody(kAddress, kNoFile);
      kesto.openFile = kDataFile;
      kesto.position = 0;
      return okBody(kAddress);
    }

    case 41: {  // seek: position; 0
      const auto position = oneInt();
      if (!position) return errorBody(kAddress, kBadFormat);
      if (*position < 0 || static_cast<size_t>(*position) >= KestoState::kFileSize)
        return errorBody(kAddress, kRange);
      kesto.position = static_cast<size_t>(*position);
      return okBody(kAddress);
    }

    case 42: {  // read from the data file at the position
      const auto count = oneInt();
      if (!count) return errorBody(kAddress, kBadFormat);
      if (*count < 0 || static_cast<size_t>(*count) > kMaxRead) return errorBody(kAddress, kRange);
      std::array<uint8_t, KestoState::kFileSize> image{};
      for (int ch = 0; ch < 4; ++ch) {
        float value = kestoValue(ch);
        if (scenario.kestoNoiseMA > 0 && value != 0.0f) {
          const double scale = kesto.inputType == kTenthsInputType ? 10.0 : 1.0;
          value += static_cast<float>(random.gauss(scenario.kestoNoiseMA) * scale);
        }
        std::memcpy(&image[kCurrentsAt + 4 * ch], &value, 4);  // little-endian host
      }
      const uint16_t status = statusWord();
      image[kStatusAt] = static_cast<uint8_t>(status & 0xFF);
      image[kStatusAt + 1] = static_cast<uint8_t>(status >> 8);
      const size_t from = kesto.position;
      const size_t n = std::min(static_cast<size_t>(*count), image.size() - from);
      kesto.position = from + n;
      return dataBody(uail::hexBytes(image.data() + from, n));
    }

    case 43: {  // write into the configuration memory at the position
      if (f.size() != 1) return errorBody(kAddress, kBadFormat);
      const auto bytes = uail::parseHexBytes(f[0]);
      if (!bytes || bytes->empty()) return errorBody(kAddress, kBadFormat);
      if (kesto.position + bytes->size() > KestoState::kFileSize) return errorBody(kAddress, kRange);
      std::copy(bytes->begin(), bytes->end(), kesto.setup.begin() + static_cast<long>(kesto.position));
      // The input-type descriptor starts at 35; its first byte is the input type.
      if (kesto.position <= 35 && kesto.position + bytes->size() > 35) kesto.inputType = kesto.setup[35];
      kesto.position += bytes->size();
      return okBody(kAddress);
    }

    case 44:  // close
      kesto.openFile = 0;
      return okBody(kAddress);

    default:
      return errorBody(kAddress, kNoCommand);
  }
}

}  // namespace quarnsim
