#include "protocol/settings/setting_checks.h"

#include "protocol/wire/settings_messages.h"

namespace oxlo {
namespace {

// A longer text would pass CanFormCheck (only the last 8 digits count) and
// then fail when the message is built, after earlier groups went out.
bool FitsMessage(std::string_view id) {
  return id.size() <= kCanIdTextMax;
}

}  // namespace

std::optional<std::string> CheckCanId(std::string_view id, int idFormat) {
  if (FitsMessage(id) && CanFormCheck(id, idFormat)) return std::nullopt;
  return "Please Check CAN ID Fomat";
}

std::optional<std::string> CheckCanMask(std::string_view mask, int idFormat) {
  if (FitsMessage(mask) && CanFormCheck(mask, idFormat)) return std::nullopt;
  return "Please Check CAN ID Mask Fomat";
}

std::optional<std::string> CheckCanSettings(const CanSettings& can) {
  if (auto refusal = CheckCanId(can.id, can.idFormat)) return refusal;
  return CheckCanMask(can.mask, can.idFormat);
}

std::optional<std::string> CheckFilterSlot(int slot, std::int32_t type, std::string_view id,
                                           int idFormat) {
  if (FitsMessage(id) && FilterSlotValid(type, id, idFormat)) return std::nullopt;
  return "Please Check Filter Type and Format " + std::to_string(slot + 1);
}

std::optional<std::string> CheckFilterGroup(const std::array<FilterEntry, kSlotsPerGroup>& slots,
                                            int idFormat) {
  for (int k = 0; k < kSlotsPerGroup; ++k) {
    const FilterEntry& entry = slots[static_cast<std::size_t>(k)];
    if (auto refusal = CheckFilterSlot(k, entry.type, entry.id, idFormat)) return refusal;
  }
  return std::nullopt;
}

std::optional<std::string> CheckPortMode(std::string_view modeName) {
  if (ModeFromName(modeName)) return std::nullopt;
  return "Please Check Operation Mode";
}

}  // namespace oxlo
