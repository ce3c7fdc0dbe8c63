// Helpers for writing byte layouts in tests.
#pragma once

#include <sstream>
#include <string>
#include <string_view>

#include "protocol/wire/bytes.h"

namespace oxlo::testing {

// "02 46 00 11" -> bytes.
inline Bytes Hex(std::string_view text) {
  Bytes bytes;
  std::istringstream in{std::string(text)};
  std::string pair;
  while (in >> pair) bytes.push_back(static_cast<std::uint8_t>(std::stoul(pair, nullptr, 16)));
  return bytes;
}

inline Bytes Ascii(std::string_view text) {
  return Bytes(text.begin(), text.end());
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

inline Bytes Zeros(std::size_t count) {
  return Bytes(count, 0x00);
}

inline Bytes Truncated(Bytes bytes, std::size_t size) {
  bytes.resize(size);
  return bytes;
}

// Keeps the first `size` bytes and closes the datagram with ETX again.
inline Bytes CutAndClose(Bytes bytes, std::size_t size) {
  bytes.resize(size);
  if (!bytes.empty()) bytes.back() = 0x03;
  return bytes;
}

}  // namespace oxlo::testing
