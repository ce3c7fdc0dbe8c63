// Why a listed device cannot be reached from this computer, and how to mend
// it: pure code over the discovery records, the interfaces their replies
// came in on and this computer's own interfaces.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/discovery.h"

namespace oxlo {

// One of this computer's IPv4 interfaces. Addresses are in host order.
struct HostInterface {
  std::string name;
  std::uint32_t address = 0;
  int prefixLength = 0;  // 0 to 32
};

// A listed device and the interfaces its replies came in on, the first first.
struct SeenDevice {
  DeviceRecord record;
  std::vector<std::string> interfaces;
};

enum class ProblemKind {
  kOtherSubnet,
  kDuplicateAddress,
  kNoUsableAddress,
  kInvalidMask,
  kGatewayOutsideSubnet,
  kSeenOnSeveralInterfaces,  // information: bridged or looped networks
};

// The stable name tools and scripts match: "other_subnet", ...
std::string_view ProblemKindName(ProblemKind kind);

struct Problem {
  ProblemKind kind;
  std::string reason;
  std::string fix;  // empty for information
};

struct DeviceDiagnosis {
  std::vector<Problem> problems;
  // For a device that needs another address: a free one, with the mask, in
  // the subnet of the interface it answered on.
  std::optional<std::uint32_t> suggestedAddress;
  std::optional<std::uint32_t> suggestedMask;
};

// One diagnosis per device, in the same order.
std::vector<DeviceDiagnosis> DiagnoseDevices(const std::vector<SeenDevice>& devices,
                                             const std::vector<HostInterface>& interfaces);

// The lowest address of `subnet`'s network that can be given to a device:
// not its network or broadcast address (a /31 has neither), not in `taken`.
// Nothing when the subnet has no such address.
std::optional<std::uint32_t> FreeAddress(const HostInterface& subnet,
                                         const std::vector<std::uint32_t>& taken);

std::uint32_t MaskOfPrefix(int prefixLength);
// Dotted text of a host-order address.
std::string AddressText(std::uint32_t address);

}  // namespace oxlo
