#include "protocol/wire/settings_messages.h"

#include <algorithm>
#include <stdexcept>

#include "protocol/wire/fields.h"
#include "protocol/wire/frame.h"

namespace oxlo {
namespace {

// Reads fixed-offset fields from the bytes before the ETX; a field that is not
// wholly there throws the conversion error that stops decoding.
class FieldReader {
 public:
  explicit FieldReader(ByteView datagram) : fields_(FieldBytes(datagram)) {}

  ByteView Take(std::size_t offset, std::size_t length) const {
    if (offset > fields_.size() || fields_.size() - offset < length) {
      throw MissingBytesError();
    }
    return fields_.subspan(offset, length);
  }
  std::uint8_t Byte(std::size_t offset) const {
    return static_cast<std::uint8_t>(SmallFieldToInt(Take(offset, 1)));
  }
  std::uint16_t Word(std::size_t offset) const {
    return static_cast<std::uint16_t>(SmallFieldToInt(Take(offset, 2)));
  }
  Ipv4Field Address(std::size_t offset) const {
    Ipv4Field address{};
    const ByteView bytes = Take(offset, address.size());
    std::copy(bytes.begin(), bytes.end(), address.begin());
    return address;
  }

 private:
  ByteView fields_;
};

void Append(Bytes& message, const Ipv4Field& address) {
  message.insert(message.end(), address.begin(), address.end());
}

void AppendWord(Bytes& message, std::uint16_t value) {
  message.push_back(static_cast<std::uint8_t>(value & 0xFF));
  message.push_back(static_cast<std::uint8_t>(value >> 8));
}

constexpr std::array<std::uint8_t, 5> kModeCodes = {1, 2, 3, 6, 7};
constexpr std::array<std::uint8_t, 8> kModeByCode = {0, 0, 1, 2, 0, 0, 3, 4};

}  // namespace

std::uint8_t RequestCode(ReadRequestKind kind) {
  switch (kind) {
    case ReadRequestKind::kNetwork:
      return code::kNetwork;
    case ReadRequestKind::kOperationMode:
      return code::kOpMode;
    case ReadRequestKind::kCan:
      return code::kCan;
    default:
      break;
  }
  const int value = static_cast<int>(kind);
  if (value < 3 || value >= kReadRequestKindCount) {
    throw std::out_of_range("read request kind must be 0 to 10");
  }
  return static_cast<std::uint8_t>(value - 2);
}

std::uint8_t ReplyCode(ReadRequestKind kind) {
  switch (kind) {
    case ReadRequestKind::kNetwork:
      return code::kNetworkReply;
    case ReadRequestKind::kOperationMode:
      return code::kOpModeReply;
    case ReadRequestKind::kCan:
      return code::kCanReply;
    default:
      return static_cast<std::uint8_t>(0x10 + RequestCode(kind));
  }
}

Bytes BuildReadRequest(ReadRequestKind kind, const MacField& mac) {
  Bytes message = BeginMessage(RequestCode(kind), &mac);
  message.push_back(kEtx);
  return message;
}

Bytes BuildApplyCommand(const MacField& mac) {
  Bytes message = BeginMessage(code::kApply, &mac);
  message.push_back(kEtx);
  return message;
}

Bytes BuildNetworkMessage(const MacField& mac, const NetworkSettings& settings) {
  Bytes message = BeginMessage(code::kNetwork, &mac);
  message.push_back(settings.networkType);
  Append(message, settings.address);
  Append(message, settings.gateway);
  Append(message, settings.subnetMask);
  Append(message, settings.dns);
  const NameField name = NameToField(settings.name);
  message.insert(message.end(), name.begin(), name.end());
  message.insert(message.end(), 21, 0x00);
  message.push_back(settings.portCount);
  message.push_back(settings.echoByte);
  message.push_back(kEtx);
  return message;
}

NetworkReply ParseNetworkReply(ByteView datagram) {
  const FieldReader reader(datagram);
  NetworkReply reply;
  try {
    reply.networkType = reader.Byte(8);
    reply.address = reader.Address(9);
    reply.gateway = reader.Address(13);
    reply.subnetMask = reader.Address(17);
    reply.dns = reader.Address(21);
    NameField name{};
    const ByteView nameBytes = reader.Take(25, name.size());
    std::copy(nameBytes.begin(), nameBytes.end(), name.begin());
    reply.name = NameFromFieldWhole(name);
    reader.Byte(78);  // The window works with one port whatever the device says.
    reply.portCount = 1;
    reply.echoByte = reader.Byte(79);
  } catch (const ConversionError& error) {
    reply.stoppedBy = error;
  }
  return reply;
}

std::optional<NetworkSettings> NetworkReply::Complete() const {
  if (!echoByte) return std::nullopt;
  return NetworkSettings{*networkType, *address, *gateway,   *subnetMask,
                         *dns,         *name,    *portCount, *echoByte};
}

std::uint8_t ModeToCode(OperationMode mode) {
  return kModeCodes.at(static_cast<std::size_t>(mode));
}

std::optional<OperationMode> ModeFromCode(int code) {
  if (code < 0 || static_cast<std::size_t>(code) >= kModeByCode.size()) return std::nullopt;
  return static_cast<OperationMode>(kModeByCode[static_cast<std::size_t>(code)]);
}

std::string_view ModeName(OperationMode mode) {
  return kOperationModeNames.at(static_cast<std::size_t>(mode));
}

std::optional<OperationMode> ModeFromName(std::string_view name) {
  const auto it = std::find(kOperationModeNames.begin(), kOperationModeNames.end(), name);
  if (it == kOperationModeNames.end()) return std::nullopt;
  return static_cast<OperationMode>(it - kOperationModeNames.begin());
}

Bytes BuildOpModeMessage(const MacField& mac, const PortSettings& settings) {
  Bytes message = BeginMessage(code::kOpMode, &mac);
  message.push_back(settings.portIndex);
  message.push_back(ModeToCode(settings.mode));
  AppendWord(message, settings.localPort);
  // The field holds 16 bytes; a longer alias would shift every later field.
  const std::size_t aliasLength = std::min(settings.alias.size(), kAliasFieldSize);
  message.insert(message.end(), settings.alias.begin(),
                 settings.alias.begin() + static_cast<std::ptrdiff_t>(aliasLength));
  message.insert(message.end(), kAliasFieldSize - aliasLength, 0x00);
  message.push_back(settings.portType);
  Append(message, settings.targetAddress);
  AppendWord(message, settings.targetPort);
  AppendWord(message, settings.alive);
  AppendWord(message, settings.latency);
  message.push_back(settings.noDelay ? 1 : 0);
  message.push_back(kEtx);
  return message;
}

OpModeReply ParseOpModeReply(ByteView datagram) {
  const FieldReader reader(datagram);
  OpModeReply reply;
  try {
    reply.portIndex = reader.Byte(8);
    reply.alias = FixedTextFromField(reader.Take(12, kAliasFieldSize));
    reply.mode = ModeFromCode(reader.Byte(9));
    if (!reply.mode) return reply;
    reply.localPort = reader.Word(10);
    const std::uint8_t portType = reader.Byte(28);
    if (portType != kPortTypeData && portType != kPortTypeModem) return reply;
    reply.portType = portType;
    reply.targetAddress = reader.Address(29);
    reply.targetPort = reader.Word(33);
    reply.alive = reader.Word(35);
    reply.latency = reader.Word(37);
    reply.noDelay = reader.Byte(39) != 0;
  } catch (const ConversionError& error) {
    reply.stoppedBy = error;
  }
  return reply;
}

std::optional<PortSettings> OpModeReply::Complete() const {
  if (!noDelay) return std::nullopt;
  return PortSettings{*portIndex,     *mode,       *localPort, *alias,   *portType,
                      *targetAddress, *targetPort, *alive,     *latency, *noDelay};
}

}  // namespace oxlo
