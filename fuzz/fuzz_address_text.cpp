// Arbitrary text as an address the operator types. Whatever the checks
// accept becomes a sendable address: its dotted quad reads the same by the
// strict reader and by the C library, holds the values the check read, and
// is itself accepted unchanged; a host address is a checked address within
// its narrower ranges.
#include <arpa/inet.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "protocol/settings/address_check.h"
#include "protocol/wire/fields.h"
#include "protocol/wire/text_numbers.h"

namespace oxlo::fuzz {
namespace {

void CheckText(std::string_view text) {
  const std::vector<std::string> parts = SplitAddressParts(text);
  const bool checked = CheckAddressText(text);
  const std::optional<std::string> canonical = CanonicalAddressText(text);
  OXLO_FUZZ_CHECK(checked == canonical.has_value());
  if (checked) OXLO_FUZZ_CHECK(parts.size() == 4);

  if (canonical) {
    const std::optional<Ipv4Field> strict = ParseIpv4Text(*canonical);
    OXLO_FUZZ_CHECK(strict.has_value());
    in_addr address{};
    OXLO_FUZZ_CHECK(inet_pton(AF_INET, canonical->c_str(), &address) == 1);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&address.s_addr);
    for (std::size_t i = 0; i < 4; ++i) {
      OXLO_FUZZ_CHECK(bytes[i] == (*strict)[i]);
      // The value the check read from each part.
      const std::optional<std::int32_t> value = ParsePlatformInteger(parts[i]);
      OXLO_FUZZ_CHECK(value && *value == (*strict)[i]);
    }
    OXLO_FUZZ_CHECK(Ipv4ToText(*strict) == *canonical);
    OXLO_FUZZ_CHECK(CheckAddressText(*canonical) && CanonicalAddressText(*canonical) == canonical);
  }

  if (CheckHostAddressText(text)) {
    OXLO_FUZZ_CHECK(canonical.has_value());
    const Ipv4Field a = *ParseIpv4Text(*canonical);
    OXLO_FUZZ_CHECK(a[0] >= 1 && a[0] <= 253 && a[1] <= 254 && a[2] <= 254 && a[3] >= 1 &&
                    a[3] <= 253);
    OXLO_FUZZ_CHECK(CheckHostAddressText(*canonical));
  }
}

}  // namespace
}  // namespace oxlo::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  oxlo::fuzz::CheckText(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
