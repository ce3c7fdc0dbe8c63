// Why a listed device cannot be reached from this computer, and how to mend
// it: pure code over the discovery records, the interfaces their replies
// came in on and this computer's own interfaces.
#pragma once

#include <cstdint>
#include <functional>
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
// keep their lists alike. The same reply through two adapters is one device
// (bridged or looped networks); another reply with the same MAC on another
// adapter is a second device, since one MAC on two networks is a fault to
// show, not to hide.
class SeenDevices {
 public:
  explicit SeenDevices(std::size_t limit) : limit_(limit) {}

  enum class Sighting {
    kNew,           // listed now (also a second device with a listed MAC)
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
  // Per MAC, the rows of the devices that carry it.
  std::unordered_map<std::string, std::vector<std::size_t>> index_of_mac_;
  std::vector<SeenDevice> devices_;
};

enum class ProblemKind {
  kOtherSubnet,
  kDuplicateAddress,
  kNoUsableAddress,
  kInvalidMask,
  kGatewayOutsideSubnet,
  kSeenOnSeveralInterfaces,  // information: bridged or looped networks
  kMacOnTwoNetworks,         // two devices with one MAC, on different adapters
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

// An address, mask and gateway as a device holds them or is to be given them.
struct AddressSetting {
  std::string ip;
  std::string mask;
  std::string gateway;
};

// What the doctor finds wrong with device `mac` holding `setting`: no usable
// address, an invalid mask, a gateway outside its subnet (0.0.0.0, none, is
// fine) and an address this computer or another device of `devices` holds
// (kDuplicateAddress). The doctor and every command that sends an address
// judge by this one set of rules. The problems carry no fix.
std::vector<Problem> AddressProblems(const AddressSetting& setting, const std::string& mac,
                                     const std::vector<SeenDevice>& devices,
                                     const std::vector<HostInterface>& interfaces);

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

// Whether the suggested new address of a device is in use on its link, as
// a probe found out.
enum class ProbeVerdict {
  kFree,       // nobody answered within the wait
  kInUse,      // a host answered for it
  kNotProbed,  // nothing could ask; `detail` says why
};
struct ProbeFinding {
  ProbeVerdict verdict = ProbeVerdict::kNotProbed;
  // How it was asked ("an ARP probe"), or why it was not.
  std::string detail{};
};
// An address to probe on the link of the named interface (host order).
struct ProbeRequest {
  std::string interfaceName;
  std::uint32_t address = 0;
  auto operator<=>(const ProbeRequest&) const = default;
};
// Probes a batch of requests, one finding each, in the same order.
using ProbeBatch = std::function<std::vector<ProbeFinding>(const std::vector<ProbeRequest>&)>;

struct ProbedDiagnoses {
  std::vector<DeviceDiagnosis> diagnoses;
  // Per device: what probing its suggested new address found (kNotProbed
  // with an empty detail where it gets no new address).
  std::vector<ProbeFinding> probes;
};

// The diagnoses with each suggested new address probed first: an address a
// host claims is passed over and the next suggestion probed in turn. The
// window and `oxlo doctor` both advise through this, so they suggest the
// same address for the same device. `probe` may be empty: nothing probed.
ProbedDiagnoses DiagnoseAndProbe(const std::vector<SeenDevice>& devices,
                                 const std::vector<HostInterface>& interfaces,
                                 const ProbeBatch& probe);

// The suggested address of a diagnosis, where it is a new one.
std::optional<std::uint32_t> NewAddress(const SeenDevice& device, const DeviceDiagnosis& diagnosis);

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
