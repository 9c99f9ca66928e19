// The calibrator's HART modem as the host sees it: bytes written in the HART line mode are assembled
// into frames and passed to the transmitter of the channel the Kesto module has selected.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quarnsim {

class Transmitter;

class HartLine {
 public:
  static constexpr int kChannels = 4;

  void attach(int channel, Transmitter* transmitter);  // channel 0..3; nullptr detaches
  void selectChannel(int channel);                     // -1: no channel connected
  int selectedChannel() const { return selected_; }

  // Bytes the host wrote while the port is in HART mode; returns the answer bytes of every frame
  // completed by them (may be empty). A frame needs at least two preamble bytes 0xFF before its
  // delimiter; bytes that do not start a request frame are dropped. A frame is complete after its
  // checksum byte and goes to the selected channel's transmitter whatever its checksum (the
  // transmitter ignores a bad one). A long-address frame reaches the transmitter only when it came
  // with at least the preambles the transmitter asks for (`requestPreambles`).
  std::vector<uint8_t> onHostBytes(const uint8_t* data, size_t n);
  // Drops a partly received frame. The owner calls it when the line mode changes, the port is purged
  // or the line stays quiet for longer than a character time, as a modem loses a frame whose bytes
  // stop coming.
  void reset();

 private:
  void consume(uint8_t byte, std::vector<uint8_t>& out);

  Transmitter* channels_[kChannels] = {};
  int selected_ = -1;
  std::vector<uint8_t> frame_;   // delimiter onwards of the frame being received
  size_t expected_ = 0;          // total length of `frame_` once the byte count is known, 0 before
  int preambles_ = 0;            // 0xFF bytes seen while hunting
  int framePreambles_ = 0;       // preambles before the delimiter of the frame being received
  bool trailerPending_ = false;  // a frame just ended: a 0xFF now is its trailing byte
};

}  // namespace quarnsim
