#include "protocol/wire/frame.h"

#include <algorithm>

namespace oxlo {

std::optional<std::uint8_t> AcceptDatagram(ByteView datagram) {
  if (datagram.size() == 3) return std::nullopt;
  if (datagram.empty() || datagram.back() != kEtx) return std::nullopt;
  if (datagram.size() < 2) return std::nullopt;
  return datagram[kCodeOffset];
}

ByteView FieldBytes(ByteView datagram) {
  return datagram.empty() ? datagram : datagram.first(datagram.size() - 1);
}

Bytes BeginMessage(std::uint8_t code, const MacField* mac) {
  Bytes message;
  message.reserve(64);
  message.push_back(kStx);
  message.push_back(code);
  if (mac != nullptr) {
    for (std::uint8_t b : *mac) message.push_back(b);
  }
  return message;
}

std::optional<MacField> MacOf(ByteView datagram) {
  const ByteView fields = FieldBytes(datagram);
  if (fields.size() < kPayloadOffset) return std::nullopt;
  MacField mac{};
  std::copy_n(fields.begin() + kMacOffset, mac.size(), mac.begin());
  return mac;
}

}  // namespace oxlo
