// This computer's interfaces, the devices a search has heard on them, and
// what a probe of an address on a link found: the facts the transport
// layer gathers and the diagnosis reasons over.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "protocol/wire/discovery.h"

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

std::uint32_t MaskOfPrefix(int prefixLength);
// Dotted text of a host-order address.
std::string AddressText(std::uint32_t address);
// A host-order address from text as the address fields read it.
std::optional<std::uint32_t> AddressOfText(const std::string& text);

}  // namespace oxlo
