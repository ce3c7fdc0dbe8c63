// The checks an operator's address text must pass before it is sent.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace oxlo {

// Splits at '.' the way the platform's delimited-text lists do: blanks and
// control characters around a part are skipped and also end it, a part that
// starts with '"' runs to the closing '"', and a trailing '.' adds an empty part.
std::vector<std::string> SplitAddressParts(std::string_view text);

// Four parts, each an integer 0-255 in the platform's integer syntax.
bool CheckAddressText(std::string_view text);

// The dotted quad of the four values CheckAddressText read ("010.57.0.02",
// " 10.57.0.2" and "$0A.57.0.2" give "10.57.0.2"), or nothing when the text
// fails the check. Sockets, the arp command and the wire take only this form.
std::optional<std::string> CanonicalAddressText(std::string_view text);

// A host a query may be sent to: 1-253 . 0-254 . 0-254 . 1-253.
bool CheckHostAddressText(std::string_view text);

}  // namespace oxlo
