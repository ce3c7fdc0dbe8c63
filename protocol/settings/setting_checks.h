// What the configuration window refuses to send, for the window and the
// settings documents alike. Each check takes values and gives the text the
// operator is shown when they are refused, nothing when they may go. The
// texts are the window's own, typos included: scripts match them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/wire/can_messages.h"

namespace oxlo {

// An identifier or mask as hex text for the identifier format: at most
// kCanIdTextMax digits (the message has room for no more), within 7FF for
// kIdFormat11Bit and within 1FFFFFFF for any other code. The empty text is 0.
// "Please Check CAN ID Fomat" / "Please Check CAN ID Mask Fomat".
std::optional<std::string> CheckCanId(std::string_view id, int idFormat);
std::optional<std::string> CheckCanMask(std::string_view mask, int idFormat);
// The identifier, then the mask, against the settings' format.
std::optional<std::string> CheckCanSettings(const CanSettings& can);

// Slot `slot` (0-3) of a filter group, "Please Check Filter Type and Format 2"
// for slot 1. A disabled slot (type 0, or below for no type chosen) takes any
// identifier the message has room for; another needs its identifier to fit
// its type as a format (Standard 11-bit, Extend 29-bit) and a type no wider
// than the CAN identifier format.
std::optional<std::string> CheckFilterSlot(int slot, std::int32_t type, std::string_view id,
                                           int idFormat);
// The four slots of a group in order; the first refusal.
std::optional<std::string> CheckFilterGroup(const std::array<FilterEntry, kSlotsPerGroup>& slots,
                                            int idFormat);

// A port's operation mode by its name, one of kOperationModeNames:
// "Please Check Operation Mode" for any other text, the empty one included.
std::optional<std::string> CheckPortMode(std::string_view modeName);

}  // namespace oxlo
