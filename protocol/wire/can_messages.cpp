#include "protocol/wire/can_messages.h"

#include "protocol/wire/conversion_error.h"
#include "protocol/wire/frame.h"
#include "protocol/wire/text_numbers.h"

namespace oxlo {
namespace {

void AppendCanId(Bytes& message, std::string_view text) {
  const auto bytes = CanIdToBytes(text);
  message.insert(message.end(), bytes.begin(), bytes.end());
}

std::optional<int> GroupOfCode(std::uint8_t commandCode) {
  if (commandCode >= code::kFilterGroupFirst && commandCode <= code::kFilterGroupLast) {
    return commandCode - code::kFilterGroupFirst;
  }
  if (commandCode >= code::kFilterReplyFirst && commandCode <= code::kFilterReplyLast) {
    return commandCode - code::kFilterReplyFirst;
  }
  return std::nullopt;
}

}  // namespace

std::array<std::uint8_t, 4> CanIdToBytes(std::string_view text) {
  if (text.size() > kCanIdTextMax) throw ConversionError::NoHexNumber();
  std::array<std::uint8_t, 4> bytes{};
  std::size_t end = text.size();
  for (std::size_t i = 0; end > 0; ++i) {
    const std::size_t start = end >= 2 ? end - 2 : 0;
    try {
      bytes[i] = static_cast<std::uint8_t>(HexToInt(text.substr(start, end - start)));
    } catch (const ConversionError&) {
      bytes[i] = 0x00;
    }
    end = start;
  }
  return bytes;
}

std::string CanIdFromBytes(ByteView fourBytes) {
  const std::array<std::uint8_t, 4> msbFirst = {fourBytes[3], fourBytes[2], fourBytes[1],
                                                fourBytes[0]};
  return BytesToHex(msbFirst);
}

bool CanFormCheck(std::string_view text, int kind) {
  const std::uint32_t limit = kind == 1 ? 0x7FF : 0x1FFFFFFF;
  try {
    return limit >= static_cast<std::uint32_t>(HexToInt(text));
  } catch (const ConversionError&) {
    return false;
  }
}

Bytes BuildCanSettings(const MacField& mac, int baudIndex, int idFormat, std::string_view id,
                       std::string_view mask) {
  Bytes message = BeginMessage(code::kCan, &mac);
  message.push_back(static_cast<std::uint8_t>(baudIndex));
  message.push_back(static_cast<std::uint8_t>(idFormat));
  AppendCanId(message, id);
  AppendCanId(message, mask);
  message.push_back(kEtx);
  return message;
}

std::optional<CanSettings> ParseCanSettings(ByteView datagram) {
  if (datagram.size() < kCanSettingsSize) return std::nullopt;
  return CanSettings{datagram[8], datagram[9], CanIdFromBytes(datagram.subspan(10, 4)),
                     CanIdFromBytes(datagram.subspan(14, 4))};
}

Bytes BuildFilterGroup(const MacField& mac, int group, const std::array<std::int32_t, 4>& types,
                       const std::array<std::string, 4>& ids) {
  Bytes message = BeginMessage(static_cast<std::uint8_t>(code::kFilterGroupFirst + group), &mac);
  for (std::int32_t type : types) message.push_back(static_cast<std::uint8_t>(type));
  for (const std::string& id : ids) AppendCanId(message, id);
  message.push_back(kEtx);
  return message;
}

Bytes BuildFilterGroupOfTable(const MacField& mac, const FilterTable& table, int group) {
  std::array<std::int32_t, kSlotsPerGroup> types{};
  std::array<std::string, kSlotsPerGroup> ids;
  for (int s = 0; s < kSlotsPerGroup; ++s) {
    types[static_cast<std::size_t>(s)] = table.Slot(group, s).type;
    ids[static_cast<std::size_t>(s)] = table.Slot(group, s).id;
  }
  return BuildFilterGroup(mac, group, types, ids);
}

std::optional<FilterGroup> ParseFilterGroup(ByteView datagram) {
  if (datagram.size() < kFilterGroupSize) return std::nullopt;
  const std::optional<int> group = GroupOfCode(datagram[kCodeOffset]);
  if (!group) return std::nullopt;
  FilterGroup decoded;
  decoded.group = *group;
  for (std::size_t s = 0; s < decoded.slots.size(); ++s) {
    decoded.slots[s].type = datagram[8 + s];
    decoded.slots[s].id = CanIdFromBytes(datagram.subspan(12 + 4 * s, 4));
  }
  return decoded;
}

bool FilterSlotValid(std::int32_t type, std::string_view id, int idFormat) {
  if (type <= 0) return true;
  return CanFormCheck(id, type) && type <= idFormat;
}

}  // namespace oxlo
