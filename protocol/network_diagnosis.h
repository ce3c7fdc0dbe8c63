// Why a listed device cannot be reached from this computer, and how to mend
// it: pure code over the discovery records, the interfaces their replies
// came in on and this computer's own interfaces.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
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
  // This computer's address on the first of them, where known.
  std::string localAddress{};
};

// The devices a search has listed, each once in the order first heard, with
// every interface its replies came in on: the window and the command line
// keep their lists alike.
class SeenDevices {
 public:
  explicit SeenDevices(std::size_t limit) : limit_(limit) {}

  enum class Sighting {
    kNew,           // listed now
    kNewInterface,  // listed before; this interface is new to it
    kAgain,         // nothing new
    kIgnored,       // a new device, but the list is full
  };
  // `interfaceName` and `localAddress` may be empty where the system does not say.
  Sighting Add(DeviceRecord record, const std::string& interfaceName,
               const std::string& localAddress);
  void SetLimit(std::size_t limit) { limit_ = limit; }
  void Clear();
  const std::vector<SeenDevice>& List() const { return devices_; }
  std::size_t Size() const { return devices_.size(); }

 private:
  std::size_t limit_;
  std::unordered_map<std::string, std::size_t> index_of_mac_;
  std::vector<SeenDevice> devices_;
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

// Address, mask and gateway (0: none) to assign.
struct AddressMend {
  std::uint32_t address = 0;
  std::uint32_t mask = 0;
  std::uint32_t gateway = 0;
};

struct DeviceDiagnosis {
  std::vector<Problem> problems;
  // The assignment that mends the problems an assignment can mend. A device
  // that needs another address gets a free one, with the mask, in the subnet
  // of the interface it answered on, and keeps its gateway only where that
  // lies inside; one whose gateway alone is wrong keeps its address and gets
  // none.
  std::optional<AddressMend> mend;
};

// One diagnosis per device, in the same order. `alsoTaken`: addresses known
// to be in use besides this computer's, the devices' and their gateways
// (found by a probe), which no suggestion takes.
std::vector<DeviceDiagnosis> DiagnoseDevices(const std::vector<SeenDevice>& devices,
                                             const std::vector<HostInterface>& interfaces,
                                             const std::vector<std::uint32_t>& alsoTaken = {});

// Who besides the device `mac` holds `address` (host order): "this computer
// (eth0)" or the MAC of a listed device; nothing when nobody does.
std::optional<std::string> AddressHolder(std::uint32_t address, const std::string& mac,
                                         const std::vector<SeenDevice>& devices,
                                         const std::vector<HostInterface>& interfaces);

// The lowest address of `subnet`'s network that can be given to a device:
// not its network or broadcast address (a /31 has neither), not in `taken`.
// Nothing when the subnet has no such address.
std::optional<std::uint32_t> FreeAddress(const HostInterface& subnet,
                                         const std::unordered_set<std::uint32_t>& taken);

std::uint32_t MaskOfPrefix(int prefixLength);
// Dotted text of a host-order address.
std::string AddressText(std::uint32_t address);
// A host-order address from text as the address fields read it.
std::optional<std::uint32_t> AddressOfText(const std::string& text);

}  // namespace oxlo
