// What the fuzz targets share: an invariant check that stops the run (so
// libFuzzer keeps the input), conversions that may fail, and reference
// readings simple enough to trust.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "protocol/wire/bytes.h"
#include "protocol/wire/conversion_error.h"
#include "protocol/wire/frame.h"

namespace oxlo::fuzz {

[[noreturn]] inline void Fail(const char* what, const char* file, int line) {
  std::fprintf(stderr, "fuzz invariant failed: %s (%s:%d)\n", what, file, line);
  std::fflush(stderr);
  __builtin_trap();
}

#define OXLO_FUZZ_CHECK(condition)                                        \
  do {                                                                    \
    if (!(condition)) ::oxlo::fuzz::Fail(#condition, __FILE__, __LINE__); \
  } while (false)

// Runs a conversion that documents ConversionError; nullopt (and the message
// in `error`) when it throws one. Any other exception escapes and ends the run.
template <typename F>
auto Convert(F&& convert, std::string* error = nullptr) -> std::optional<std::invoke_result_t<F>> {
  try {
    return convert();
  } catch (const ConversionError& e) {
    if (error != nullptr) *error = e.what();
    return std::nullopt;
  }
}

// The decimal reading's message as what() shows it: a C string, so it ends at
// a NUL that the offending text holds.
inline std::string NotAnIntegerMessage(std::string_view text) {
  const std::string message = "'" + std::string(text) + "' is not a valid integer value";
  return message.substr(0, message.find('\0'));
}

inline bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

inline bool IsUpperHex(std::string_view text) {
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

inline bool AllHex(std::string_view text) {
  for (char c : text) {
    if (!IsHexDigit(c)) return false;
  }
  return true;
}

// Well-formed UTF-8 after the Unicode standard's table of byte ranges: a
// different method from the library's, so the two check each other.
inline bool ReferenceUtf8(ByteView bytes) {
  std::size_t i = 0;
  const auto in = [&](std::size_t k, std::uint8_t low, std::uint8_t high) {
    return k < bytes.size() && bytes[k] >= low && bytes[k] <= high;
  };
  while (i < bytes.size()) {
    const std::uint8_t b = bytes[i];
    if (b <= 0x7F) {
      i += 1;
    } else if (b >= 0xC2 && b <= 0xDF) {
      if (!in(i + 1, 0x80, 0xBF)) return false;
      i += 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
      const std::uint8_t low = b == 0xE0 ? 0xA0 : 0x80;
      const std::uint8_t high = b == 0xED ? 0x9F : 0xBF;
      if (!in(i + 1, low, high) || !in(i + 2, 0x80, 0xBF)) return false;
      i += 3;
    } else if (b >= 0xF0 && b <= 0xF4) {
      const std::uint8_t low = b == 0xF0 ? 0x90 : 0x80;
      const std::uint8_t high = b == 0xF4 ? 0x8F : 0xBF;
      if (!in(i + 1, low, high) || !in(i + 2, 0x80, 0xBF) || !in(i + 3, 0x80, 0xBF)) return false;
      i += 4;
    } else {
      return false;
    }
  }
  return true;
}

inline ByteView AsBytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// A name as the windows show it: well-formed UTF-8 of at most 32 bytes that
// holds no NUL (a NUL ends the field).
inline bool IsShowableName(std::string_view name) {
  return name.size() <= 32 && name.find('\0') == std::string_view::npos &&
         ReferenceUtf8(AsBytes(name));
}

// The MAC field of a datagram, or zeros when it is cut short; builders need one.
inline MacField MacOrZero(ByteView datagram) {
  return MacOf(datagram).value_or(MacField{});
}

// An input read as a sequence of datagrams: each is a length byte and that
// many bytes (fewer at the input's end). The length's low 7 bits count;
// with its high bit set the datagram is made a framed message for `mac`
// (STX first, the MAC at its place when long enough, ETX last), so the
// fuzzer gets past the frame and address checks without finding them first.
inline std::vector<Bytes> SplitDatagrams(ByteView d, const MacField& mac) {
  std::vector<Bytes> datagrams;
  std::size_t at = 0;
  while (at < d.size()) {
    const std::uint8_t header = d[at++];
    const std::size_t size = std::min<std::size_t>(header & 0x7F, d.size() - at);
    Bytes datagram(d.begin() + static_cast<std::ptrdiff_t>(at),
                   d.begin() + static_cast<std::ptrdiff_t>(at + size));
    at += size;
    if ((header & 0x80) != 0 && !datagram.empty()) {
      datagram.front() = kStx;
      datagram.back() = kEtx;
      if (datagram.size() >= kPayloadOffset + 1) {
        std::copy(mac.begin(), mac.end(), datagram.begin() + kMacOffset);
      }
    }
    datagrams.push_back(std::move(datagram));
  }
  return datagrams;
}

}  // namespace oxlo::fuzz
