// Checks of the operator's arguments shared by the subcommands; a bad one
// throws UsageError (kExitUsage).
#pragma once

#include <chrono>
#include <cstddef>
#include <stdexcept>
#include <string>

#include "protocol/wire/bytes.h"

namespace oxlo::cli {

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A MAC as the operator gave it, read once: the bytes sent and the text shown.
struct MacArgument {
  std::string text;  // as the device list shows it: 00-1A-2B-3C-4D-5E
  MacField bytes{};
};
// Accepts 00-1a-2B-3c-4d-5e or 00:1A:2B:3C:4D:5E.
MacArgument ParseMacArgument(const std::string& text);

// An IPv4 address argument in the only form sockets and the wire take: the
// checks read "010.57.0.02" or " 10.57.0.2 " as 10.57.0.2, so that is what
// is sent and compared. `option` names the argument in the error.
std::string AddressArgument(const std::string& option, const std::string& text);
// Likewise for an address a query may be sent to (CheckHostAddressText).
std::string HostAddressArgument(const std::string& option, const std::string& text);

// A --timeout in seconds: waits are counted in milliseconds, so 0.001 to
// 3600; the message names exactly that range.
void CheckTimeout(double seconds);
// Seconds as whole milliseconds, rounded.
std::chrono::milliseconds Milliseconds(double seconds);

// A reply wait in milliseconds, 1 to `longest`; `option` names it in the error.
std::chrono::milliseconds ReplyWaitArgument(const std::string& option, long long ms,
                                            std::chrono::milliseconds longest);

// Text compared with a fixed field of the discovery reply (the firmware
// version holds 8 bytes, the model 20): 1 to `width` printable ASCII
// characters, since a longer or other text could never match.
inline constexpr std::size_t kVersionWidth = 8;
inline constexpr std::size_t kModelWidth = 20;
std::string FixedTextArgument(const std::string& option, const std::string& text,
                              std::size_t width);

// --back-within: whole seconds, 1 to 3600.
std::chrono::seconds BackWithinArgument(long long seconds);

}  // namespace oxlo::cli
