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

#include "protocol/network/host_network.h"
#include "protocol/wire/discovery.h"

namespace oxlo {

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

}  // namespace oxlo
