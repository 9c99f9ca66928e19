// Reading the ";"-separated fields of a calibrator answer text (or a settings text) safely: every
// reader checks that the field is there, that it converts completely, and never writes past the
// destination it is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quarn::cal {

// Field k of the text: after the k-th ";" (field 0 at the start) up to the next ";" or the end.
// False when the text has fewer than k separators, or nothing follows the k-th (the ";" that ends
// an answer's last field opens no further field).
bool answerField(std::string_view text, int k, std::string_view& field);

// A whole field as a decimal integer (optional sign). False when missing, empty, not a number or
// out of range.
bool fieldInt(std::string_view text, int k, int32_t& out);

// A whole field as an unsigned decimal number of 32 bits.
bool fieldUInt(std::string_view text, int k, uint32_t& out);

// A whole field as a decimal float ("%f" style). False when missing, not a number or not finite.
bool fieldFloat(std::string_view text, int k, float& out);

// Eight upper-case hexadecimal digits, least significant byte first, into the value's bits.
bool hexBits(std::string_view digits, uint32_t& bits);
// A field holding a 32-bit value in that encoding.
bool fieldHexBits(std::string_view text, int k, uint32_t& bits);
bool fieldHexFloat(std::string_view text, int k, float& out);

// The encoding of a 32-bit value: eight upper-case hexadecimal digits, least significant byte
// first, zero-terminated (dst holds at least 9 bytes).
void bitsToHex(uint32_t bits, char* dst);
void floatToHex(float v, char* dst);

// Copies a text into a fixed field of `size` bytes, cut to size - 1 characters, zero-terminated.
void copyText(char* dst, std::size_t size, std::string_view src);

template <std::size_t N>
void copyText(char (&dst)[N], std::string_view src) {
  copyText(dst, N, src);
}

// The placeholder of a text whose value is missing.
inline constexpr const char* kNoValueText = "- - - -";

// A value in fixed-point form with `decimals` digits (cut to 0..9) into a fixed text field. A value below
// -9e30 gives one TAB character (as the library's formatter does); a NaN or infinity, or a number
// too long for the field, gives the placeholder.
void formatValue(char* dst, std::size_t size, float v, int32_t decimals);

template <std::size_t N>
void formatValue(char (&dst)[N], float v, int32_t decimals) {
  formatValue(dst, N, v, decimals);
}

}  // namespace quarn::cal
