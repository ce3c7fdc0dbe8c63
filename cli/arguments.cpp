#include "cli/arguments.h"

#include <cctype>

#include "protocol/address_check.h"
#include "protocol/fields.h"

namespace oxlo::cli {

std::string NormalizeMac(const std::string& text) {
  const bool shaped = text.size() == 17 && [&] {
    for (std::size_t i = 0; i < text.size(); ++i) {
      const bool separator = i % 3 == 2;
      if (separator ? (text[i] != '-' && text[i] != ':')
                    : !std::isxdigit(static_cast<unsigned char>(text[i]))) {
        return false;
      }
    }
    return true;
  }();
  if (!shaped) throw UsageError("'" + text + "' is not a MAC address (like 00-1A-2B-3C-4D-5E)");
  std::string mac = text;
  for (std::size_t i = 0; i < mac.size(); ++i) {
    mac[i] = i % 3 == 2 ? '-' : static_cast<char>(std::toupper(static_cast<unsigned char>(mac[i])));
  }
  return mac;
}

MacArgument ParseMacArgument(const std::string& text) {
  MacArgument mac;
  mac.text = NormalizeMac(text);
  mac.bytes = MacToBytes(mac.text);
  return mac;
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
  if (!(seconds > 0 && seconds <= 3600)) throw UsageError("--timeout must be 0 to 3600 seconds");
}

std::chrono::milliseconds Milliseconds(double seconds) {
  return std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
}

}  // namespace oxlo::cli
