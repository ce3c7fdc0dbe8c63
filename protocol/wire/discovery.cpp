#include "protocol/wire/discovery.h"

#include <algorithm>

#include "protocol/wire/fields.h"
#include "protocol/wire/frame.h"

namespace oxlo {
Bytes BuildDiscoveryQuery() {
  return {kStx, code::kDiscovery, kEtx};
}

std::optional<DeviceRecord> ParseDiscoveryReply(ByteView datagram) {
  if (datagram.size() < kDiscoveryReplyMinSize) return std::nullopt;
  DeviceRecord record;
  record.mac = MacToText(FieldAt<6>(datagram, 2));
  record.ip = Ipv4ToText(FieldAt<4>(datagram, 8));
  record.gateway = Ipv4ToText(FieldAt<4>(datagram, 12));
  record.mask = Ipv4ToText(FieldAt<4>(datagram, 16));
  const NameField name = FieldAt<kNameFieldSize>(datagram, 20);
  record.name = NameFromField(name);
  if (record.name.empty() && name[0] != 0) {
    record.unreadableName.assign(name.begin(), std::find(name.begin(), name.end(), 0));
  }
  record.version = FixedTextFromField(datagram.subspan(56, 8));
  record.model = FixedTextFromField(datagram.subspan(64, 20));
  return record;
}

Bytes BuildAddressAssignment(std::string_view macText, std::string_view ipText,
                             std::string_view maskText, std::string_view gatewayText,
                             std::string_view name) {
  const MacField mac = MacToBytesSeparated(macText);
  Bytes message = BeginMessage(code::kAddressAssignment, &mac);
  for (std::string_view address : {ipText, gatewayText, maskText}) {
    const Ipv4Field bytes = Ipv4ToBytesSeparated(address);
    message.insert(message.end(), bytes.begin(), bytes.end());
  }
  message.insert(message.end(), 4, 0x00);
  const NameField field = NameToField(name);
  message.insert(message.end(), field.begin(), field.end());
  message.push_back(kEtx);
  return message;
}

}  // namespace oxlo
