// Wire encodings of the HART protocol as the simulated transmitters use them: the longitudinal parity
// checksum, big-endian floats and 24-bit integers, packed ASCII, and pressure unit factors.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quarnsim::hart {

// Exclusive OR of n bytes (0 for none).
uint8_t checksum(const uint8_t* bytes, size_t n);

// IEEE 754 single precision, most significant byte first.
void putFloat(std::vector<uint8_t>& out, float value);
float getFloat(const uint8_t* bytes);

void putU24(std::vector<uint8_t>& out, uint32_t value);
uint32_t getU24(const uint8_t* bytes);
void putU16(std::vector<uint8_t>& out, uint16_t value);

// Packed ASCII: four 6-bit characters in three bytes. `pack` pads or cuts the text to `chars`
// characters (a multiple of 4) with spaces and maps lowercase letters to uppercase, since the
// alphabet has no lowercase; characters outside 0x20..0x5F become '?'.
std::vector<uint8_t> packAscii(const std::string& text, size_t chars);
// Unpacks every complete group of three bytes into four characters.
std::string unpackAscii(const uint8_t* bytes, size_t n);
// The text as it reads back after packing (padded, uppercase, trailing spaces removed).
std::string normalizePacked(const std::string& text, size_t chars);

// Factor that turns a value in the given HART units code into kPa; 0 when the code is not a pressure
// unit this transmitter knows.
double pressureUnitToKPa(uint8_t unitsCode);

}  // namespace quarnsim::hart
