// The checks an operator's address text must pass before it is sent.
#pragma once

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

// A host a query may be sent to: 1-253 . 0-254 . 0-254 . 1-253.
bool CheckHostAddressText(std::string_view text);

}  // namespace oxlo
