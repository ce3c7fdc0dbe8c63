#include "cli/arguments.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "protocol/settings/address_check.h"
#include "protocol/wire/fields.h"

namespace oxlo::cli {

MacArgument ParseMacArgument(const std::string& text) {
  const std::optional<MacField> bytes = ParseMacText(text);
  if (!bytes) throw UsageError("'" + text + "' is not a MAC address (like 00-1A-2B-3C-4D-5E)");
  return {MacToText(*bytes), *bytes};
}

std::string AddressArgument(const std::string& option, const std::string& text) {
  const std::optional<std::string> canonical = CanonicalAddressText(text);
  if (!canonical) {
    throw UsageError(option + ": '" + text + "' is not an IPv4 address (four numbers 0-255)");
  }
  return *canonical;
}

std::string HostAddressArgument(const std::string& option, const std::string& text) {
  const std::optional<std::string> canonical = CanonicalAddressText(text);
  if (!canonical || !CheckHostAddressText(text)) {
    throw UsageError(option + ": '" + text + "' is not a device address");
  }
  return *canonical;
}

void CheckTimeout(double seconds) {
  // Below one millisecond a wait would be no wait at all.
  if (!(seconds >= 0.001 && seconds <= 3600)) {
    throw UsageError("--timeout must be 0.001 to 3600 seconds");
  }
}

std::chrono::milliseconds Milliseconds(double seconds) {
  return std::chrono::milliseconds(std::llround(seconds * 1000));
}

std::chrono::milliseconds ReplyWaitArgument(const std::string& option, long long ms,
                                            std::chrono::milliseconds longest) {
  if (ms < 1 || ms > longest.count()) {
    throw UsageError(option + " must be 1 to " + std::to_string(longest.count()) + " ms");
  }
  return std::chrono::milliseconds(ms);
}

std::string FixedTextArgument(const std::string& option, const std::string& text,
                              std::size_t width) {
  const bool printable = std::all_of(text.begin(), text.end(), [](char c) {
    return static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7F;
  });
  if (text.empty() || text.size() > width || !printable) {
    throw UsageError(option + " must be 1 to " + std::to_string(width) +
                     " printable ASCII characters");
  }
  return text;
}

std::chrono::seconds BackWithinArgument(long long seconds) {
  if (seconds < 1 || seconds > 3600) throw UsageError("--back-within must be 1 to 3600 seconds");
  return std::chrono::seconds(seconds);
}

}  // namespace oxlo::cli
