// Whether an IPv4 address is in use on a link, asked the way a host checks
// an address before taking it: an ARP probe.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace oxlo::transport {

enum class ProbeResult {
  kFree,       // nobody answered within the wait
  kInUse,      // a host answered for it
  kNotProbed,  // no raw socket here (not root), or the link has no ARP
};

// Sends one ARP probe for `address` (host order) out of the interface named
// `interfaceName` and waits up to `wait` for a host claiming it. The probe's
// sender address is 0.0.0.0, so no host's ARP cache learns anything from it.
ProbeResult ProbeAddress(const std::string& interfaceName, std::uint32_t address,
                         std::chrono::milliseconds wait);

}  // namespace oxlo::transport
