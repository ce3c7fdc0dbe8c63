// Read requests, the apply command, the network message 'N' / reply 'n' and
// the operation-mode message 'O' / reply 'o'.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "protocol/wire/bytes.h"
#include "protocol/wire/conversion_error.h"

namespace oxlo {

// 0 network, 1 operation mode, 2 CAN, 3..10 the eight filter groups.
enum class ReadRequestKind : std::uint8_t {
  kNetwork = 0,
  kOperationMode = 1,
  kCan = 2,
  kFilterGroupFirst = 3,
  kFilterGroupLast = 10,
};
inline constexpr int kReadRequestKindCount = 11;

// The request for filter group `group` (0-7).
constexpr ReadRequestKind FilterGroupRequest(int group) {
  if (group < 0 || group > 7) throw std::out_of_range("filter group must be 0 to 7");
  return static_cast<ReadRequestKind>(static_cast<int>(ReadRequestKind::kFilterGroupFirst) + group);
}
std::uint8_t RequestCode(ReadRequestKind kind);
std::uint8_t ReplyCode(ReadRequestKind kind);

inline constexpr std::size_t kShortCommandSize = 9;
inline constexpr std::size_t kNetworkMessageSize = 81;
inline constexpr std::size_t kOpModeMessageSize = 41;

// 0x02, the kind's code, the MAC, 0x03.
Bytes BuildReadRequest(ReadRequestKind kind, const MacField& mac);
// 0x02 'A', the MAC, 0x03.
Bytes BuildApplyCommand(const MacField& mac);

// The network type codes: the device keeps a static address, or asks DHCP.
inline constexpr std::uint8_t kNetworkTypeStatic = 0;
inline constexpr std::uint8_t kNetworkTypeDhcp = 1;

struct NetworkSettings {
  std::uint8_t networkType = kNetworkTypeStatic;
  Ipv4Field address{};
  Ipv4Field gateway{};
  Ipv4Field subnetMask{};
  Ipv4Field dns{};
  std::string name;  // UTF-8
  std::uint8_t portCount = 0;
  std::uint8_t echoByte = 0;  // carried back unchanged

  bool operator==(const NetworkSettings&) const = default;
};

Bytes BuildNetworkMessage(const MacField& mac, const NetworkSettings& settings);

// A network reply decoded field by field, in this order. Decoding stops at the
// first field that is missing or cut short; the fields before it are set and
// `stoppedBy` holds the conversion error.
struct NetworkReply {
  std::optional<std::uint8_t> networkType;
  std::optional<Ipv4Field> address;
  std::optional<Ipv4Field> gateway;
  std::optional<Ipv4Field> subnetMask;
  std::optional<Ipv4Field> dns;
  std::optional<std::string> name;
  std::optional<std::uint8_t> portCount;  // 1 whatever the reply carries
  std::optional<std::uint8_t> echoByte;
  std::optional<ConversionError> stoppedBy;

  // All fields, when decoding ran to the end.
  std::optional<NetworkSettings> Complete() const;
};

// An 'n' reply or the network section of a settings file; the code is not examined.
NetworkReply ParseNetworkReply(ByteView datagram);

// The port's operation modes, in the order the operator's list shows them.
enum class OperationMode : std::uint8_t {
  kComRedirector,
  kTcpServer,
  kTcpClient,
  kUdpServer,
  kUdpClient,
};
inline constexpr std::array<std::string_view, 5> kOperationModeNames = {
    "COM_Redirector", "TCP_Server", "TCP_Client", "UDP_Server", "UDP_Client"};

// ModeCodeTable: the code sent for a mode, and the mode a received code reads as
// (codes 0, 4 and 5 read as COM_Redirector; 8 and above have no mode).
std::uint8_t ModeToCode(OperationMode mode);
std::optional<OperationMode> ModeFromCode(int code);
std::string_view ModeName(OperationMode mode);
std::optional<OperationMode> ModeFromName(std::string_view name);

inline constexpr std::size_t kAliasFieldSize = 16;
inline constexpr std::uint8_t kPortTypeData = 0;
inline constexpr std::uint8_t kPortTypeModem = 1;
inline constexpr std::uint8_t kPortTypeNone = 0xFF;

struct PortSettings {
  std::uint8_t portIndex = 0;
  OperationMode mode = OperationMode::kComRedirector;
  std::uint16_t localPort = 0;
  std::string alias;  // 8-bit bytes, sent unconverted; at most 16 are kept
  std::uint8_t portType = kPortTypeData;
  Ipv4Field targetAddress{};
  std::uint16_t targetPort = 0;
  std::uint16_t alive = 0;
  std::uint16_t latency = 0;
  bool noDelay = false;

  bool operator==(const PortSettings&) const = default;
};

Bytes BuildOpModeMessage(const MacField& mac, const PortSettings& settings);

// An operation-mode reply decoded field by field, in this order. Decoding stops
// at a missing or cut field (`stoppedBy` holds the conversion error), at a mode
// code with no mode, or at a port type other than Data or Modem.
struct OpModeReply {
  std::optional<std::uint8_t> portIndex;
  std::optional<std::string> alias;
  std::optional<OperationMode> mode;
  std::optional<std::uint16_t> localPort;
  std::optional<std::uint8_t> portType;
  std::optional<Ipv4Field> targetAddress;
  std::optional<std::uint16_t> targetPort;
  std::optional<std::uint16_t> alive;
  std::optional<std::uint16_t> latency;
  std::optional<bool> noDelay;
  std::optional<ConversionError> stoppedBy;

  std::optional<PortSettings> Complete() const;
};

// An 'o' reply or the operation-mode section of a settings file.
OpModeReply ParseOpModeReply(ByteView datagram);

}  // namespace oxlo
