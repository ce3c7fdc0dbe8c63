// Whether an IPv4 address is in use on a link. As root: an ARP probe, the way
// a host checks an address before taking it. Without the right to send ARP:
// one datagram to the address makes the kernel ask by ARP itself, and its
// neighbour table then says whether a host answered.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/network/host_network.h"

namespace oxlo::transport {

// How long a probe waits for a host to answer: long enough for a host on
// the link, short enough that a doctor run stays quick.
inline constexpr std::chrono::milliseconds kProbeWait{400};

// Asks for `address` (host order) on the link of `interfaceName` and waits
// up to `wait`. The ARP probe's sender address is 0.0.0.0, so no host's ARP
// cache learns anything from it; the datagram of the other way goes to the
// discard port of that address only. kNotProbed says why neither could ask.
ProbeFinding ProbeAddress(const std::string& interfaceName, std::uint32_t address,
                          std::chrono::milliseconds wait = kProbeWait);

// The probes of a batch side by side, each as ProbeAddress; an error on one
// link makes that one "not probed" with the error as the reason.
std::vector<ProbeFinding> ProbeAddresses(const std::vector<ProbeRequest>& requests,
                                         std::chrono::milliseconds wait = kProbeWait);

// Whether the kernel's neighbour table holds a complete entry (a host
// answered) for `address` on `interfaceName`; `table` is its text as
// /proc/net/arp gives it.
bool NeighbourAnswered(const std::string& table, const std::string& interfaceName,
                       std::uint32_t address);

}  // namespace oxlo::transport
