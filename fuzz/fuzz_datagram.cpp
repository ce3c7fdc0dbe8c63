// Arbitrary bytes through every reader of the protocol library: as a received
// datagram (whatever its code, since a hostile sender picks the code too) and
// as the text an operator might type. Besides the sanitizers' findings, each
// reader's invariants are checked: a decoded message re-built by the matching
// builder decodes to the same values, texts read back as the numbers they were
// made from, names are always showable.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "protocol/conversation/firmware_upload.h"
#include "protocol/settings/address_check.h"
#include "protocol/settings/settings_file.h"
#include "protocol/wire/can_messages.h"
#include "protocol/wire/device_replies.h"
#include "protocol/wire/device_side.h"
#include "protocol/wire/discovery.h"
#include "protocol/wire/fields.h"
#include "protocol/wire/frame.h"
#include "protocol/wire/settings_messages.h"
#include "protocol/wire/text_numbers.h"

namespace oxlo::fuzz {
namespace {

// --- Datagrams ------------------------------------------------------------

void CheckFrame(ByteView d) {
  const std::optional<std::uint8_t> code = AcceptDatagram(d);
  const bool accepted = d.size() >= 2 && d.size() != 3 && d.back() == kEtx;
  OXLO_FUZZ_CHECK(code.has_value() == accepted);
  if (code) OXLO_FUZZ_CHECK(*code == d[kCodeOffset]);

  const ByteView fields = FieldBytes(d);
  OXLO_FUZZ_CHECK(fields.size() == (d.empty() ? 0 : d.size() - 1));
  OXLO_FUZZ_CHECK(fields.data() == d.data());

  const std::optional<MacField> mac = MacOf(d);
  OXLO_FUZZ_CHECK(mac.has_value() == (fields.size() >= kPayloadOffset));
  if (mac) OXLO_FUZZ_CHECK(std::equal(mac->begin(), mac->end(), d.begin() + kMacOffset));
}

void CheckDiscoveryReply(ByteView d) {
  const std::optional<DeviceRecord> record = ParseDiscoveryReply(d);
  OXLO_FUZZ_CHECK(record.has_value() == (d.size() >= kDiscoveryReplyMinSize));
  if (!record) return;
  OXLO_FUZZ_CHECK(IsShowableName(record->name));
  OXLO_FUZZ_CHECK(record->version.size() <= 8);
  OXLO_FUZZ_CHECK(record->model.size() <= 20);

  // The list's texts carry everything the reply said.
  DeviceIdentity device;
  device.mac = MacToBytes(record->mac);
  device.ip = Ipv4ToBytes(record->ip);
  device.gateway = Ipv4ToBytes(record->gateway);
  device.mask = Ipv4ToBytes(record->mask);
  // A name that is no text is carried as its bytes, as an assignment sends it back.
  device.name = record->unreadableName.empty() ? record->name : record->unreadableName;
  device.version = record->version;
  device.model = record->model;
  const Bytes rebuilt = BuildDiscoveryReply(device);
  OXLO_FUZZ_CHECK(rebuilt.size() == kDiscoveryReplyMinSize);
  const std::optional<DeviceRecord> again = ParseDiscoveryReply(rebuilt);
  OXLO_FUZZ_CHECK(again.has_value() && *again == *record);
}

void CheckNetworkReply(ByteView d) {
  const NetworkReply reply = ParseNetworkReply(d);
  const std::optional<NetworkSettings> settings = reply.Complete();
  // A message of full length has every field; a shorter one lacks the last.
  OXLO_FUZZ_CHECK(settings.has_value() == (d.size() >= kNetworkMessageSize));
  OXLO_FUZZ_CHECK(settings.has_value() != reply.stoppedBy.has_value());
  if (reply.name) OXLO_FUZZ_CHECK(IsShowableName(*reply.name));
  if (!settings) return;
  OXLO_FUZZ_CHECK(settings->portCount == 1);

  const MacField mac = MacOrZero(d);
  const Bytes asReply = BuildNetworkReply(mac, *settings);
  OXLO_FUZZ_CHECK(asReply.size() == kNetworkMessageSize);
  OXLO_FUZZ_CHECK(AcceptDatagram(asReply) == code::kNetworkReply);
  const std::optional<NetworkSettings> again = ParseNetworkReply(asReply).Complete();
  OXLO_FUZZ_CHECK(again.has_value() && *again == *settings);

  const Bytes asMessage = BuildNetworkMessage(mac, *settings);
  OXLO_FUZZ_CHECK(AcceptDatagram(asMessage) == code::kNetwork);
  const std::optional<NetworkSettings> fromMessage = ParseNetworkReply(asMessage).Complete();
  OXLO_FUZZ_CHECK(fromMessage.has_value() && *fromMessage == *settings);
}

void CheckOpModeReply(ByteView d) {
  const OpModeReply reply = ParseOpModeReply(d);
  const std::optional<PortSettings> settings = reply.Complete();
  if (reply.alias) {
    OXLO_FUZZ_CHECK(reply.alias->size() <= kAliasFieldSize);
    OXLO_FUZZ_CHECK(reply.alias->find('\0') == std::string::npos);
  }
  if (reply.portType) {
    OXLO_FUZZ_CHECK(*reply.portType == kPortTypeData || *reply.portType == kPortTypeModem);
  }
  if (d.size() >= kOpModeMessageSize) {
    // Every field is there: only the mode code and the port type can stop it.
    const bool knownMode = ModeFromCode(d[9]).has_value();
    const bool knownType = d[28] == kPortTypeData || d[28] == kPortTypeModem;
    OXLO_FUZZ_CHECK(settings.has_value() == (knownMode && knownType));
    OXLO_FUZZ_CHECK(!reply.stoppedBy);
  } else {
    OXLO_FUZZ_CHECK(!settings);
  }
  if (!settings) return;

  const MacField mac = MacOrZero(d);
  const Bytes asReply = BuildOpModeReply(mac, *settings);
  OXLO_FUZZ_CHECK(asReply.size() == kOpModeMessageSize);
  OXLO_FUZZ_CHECK(AcceptDatagram(asReply) == code::kOpModeReply);
  const std::optional<PortSettings> again = ParseOpModeReply(asReply).Complete();
  OXLO_FUZZ_CHECK(again.has_value() && *again == *settings);

  const std::optional<PortSettings> fromMessage =
      ParseOpModeReply(BuildOpModeMessage(mac, *settings)).Complete();
  OXLO_FUZZ_CHECK(fromMessage.has_value() && *fromMessage == *settings);
  OXLO_FUZZ_CHECK(ModeFromName(ModeName(settings->mode)) == settings->mode);
}

void CheckCanSettings(ByteView d) {
  const std::optional<CanSettings> can = ParseCanSettings(d);
  OXLO_FUZZ_CHECK(can.has_value() == (d.size() >= kCanSettingsSize));
  if (!can) return;
  OXLO_FUZZ_CHECK(can->id.size() == 8 && IsUpperHex(can->id));
  OXLO_FUZZ_CHECK(can->mask.size() == 8 && IsUpperHex(can->mask));

  const Bytes rebuilt = BuildCanReply(MacOrZero(d), *can);
  OXLO_FUZZ_CHECK(rebuilt.size() == kCanSettingsSize);
  OXLO_FUZZ_CHECK(AcceptDatagram(rebuilt) == code::kCanReply);
  const std::optional<CanSettings> again = ParseCanSettings(rebuilt);
  OXLO_FUZZ_CHECK(again.has_value() && *again == *can);
}

bool NamesGroup(std::uint8_t commandCode) {
  return (commandCode >= code::kFilterGroupFirst && commandCode <= code::kFilterGroupLast) ||
         (commandCode >= code::kFilterReplyFirst && commandCode <= code::kFilterReplyLast);
}

void CheckFilterGroup(ByteView d) {
  const std::optional<FilterGroup> group = ParseFilterGroup(d);
  OXLO_FUZZ_CHECK(group.has_value() ==
                  (d.size() >= kFilterGroupSize && NamesGroup(d[kCodeOffset])));

  if (group) {
    OXLO_FUZZ_CHECK(group->group >= 0 && group->group < kFilterGroupCount);
    std::array<std::int32_t, kSlotsPerGroup> types{};
    std::array<std::string, kSlotsPerGroup> ids;
    for (std::size_t s = 0; s < group->slots.size(); ++s) {
      const FilterEntry& slot = group->slots[s];
      OXLO_FUZZ_CHECK(slot.type >= 0 && slot.type <= 0xFF);
      OXLO_FUZZ_CHECK(slot.id.size() == 8 && IsUpperHex(slot.id));
      for (int idFormat : {int{kIdFormat11Bit}, int{kIdFormat29Bit}}) {
        const bool valid = FilterSlotValid(slot.type, slot.id, idFormat);
        if (slot.type == kFilterDisable) OXLO_FUZZ_CHECK(valid);
        if (slot.type > idFormat) OXLO_FUZZ_CHECK(!valid);
        if (valid && slot.type > 0) OXLO_FUZZ_CHECK(CanFormCheck(slot.id, slot.type));
      }
      types[s] = slot.type;
      ids[s] = slot.id;
    }
    const MacField mac = MacOrZero(d);
    const std::optional<FilterGroup> fromReply =
        ParseFilterGroup(BuildFilterGroupReply(mac, group->group, group->slots));
    OXLO_FUZZ_CHECK(fromReply && fromReply->group == group->group &&
                    fromReply->slots == group->slots);
    const Bytes message = BuildFilterGroup(mac, group->group, types, ids);
    OXLO_FUZZ_CHECK(message.size() == kFilterGroupSize);
    const std::optional<FilterGroup> fromMessage = ParseFilterGroup(message);
    OXLO_FUZZ_CHECK(fromMessage && fromMessage->group == group->group &&
                    fromMessage->slots == group->slots);
  }

  // Only a reply is stored, and only into its own group's four entries.
  FilterTable table;
  for (std::size_t i = 0; i < table.entries.size(); ++i) {
    table.entries[i] = FilterEntry{-1 - static_cast<std::int32_t>(i), "was" + std::to_string(i)};
  }
  const FilterTable before = table;
  const std::optional<DeviceReply> reply = ParseDeviceReply(d);
  const auto* groupReply = reply ? std::get_if<FilterGroupReply>(&*reply) : nullptr;
  const bool isReply = group.has_value() && d[kCodeOffset] >= code::kFilterReplyFirst &&
                       AcceptDatagram(d).has_value();
  OXLO_FUZZ_CHECK((groupReply != nullptr && groupReply->slots.has_value()) == isReply);
  if (!isReply) return;
  table.StoreGroup(groupReply->group, *groupReply->slots);
  const std::optional<int> stored = groupReply->group;
  OXLO_FUZZ_CHECK(*stored == group->group);
  for (std::size_t i = 0; i < table.entries.size(); ++i) {
    const auto g = static_cast<int>(i) / kSlotsPerGroup;
    const auto s = i % kSlotsPerGroup;
    OXLO_FUZZ_CHECK(table.entries[i] == (g == *stored ? group->slots[s] : before.entries[i]));
  }
}

void CheckAddressAssignment(ByteView d) {
  const std::optional<AddressAssignment> assignment = ParseAddressAssignment(d);
  OXLO_FUZZ_CHECK(assignment.has_value() == (d.size() == kAddressAssignmentSize &&
                                             AcceptDatagram(d) == code::kAddressAssignment));
  if (!assignment) return;
  OXLO_FUZZ_CHECK(IsShowableName(assignment->name));

  // The list row's texts, as the operator would send them back.
  const Bytes rebuilt = BuildAddressAssignment(
      MacToText(assignment->mac), Ipv4ToText(assignment->ip), Ipv4ToText(assignment->mask),
      Ipv4ToText(assignment->gateway), assignment->name);
  OXLO_FUZZ_CHECK(rebuilt.size() == kAddressAssignmentSize);
  const std::optional<AddressAssignment> again = ParseAddressAssignment(rebuilt);
  OXLO_FUZZ_CHECK(again.has_value());
  OXLO_FUZZ_CHECK(again->mac == assignment->mac && again->ip == assignment->ip &&
                  again->gateway == assignment->gateway && again->mask == assignment->mask &&
                  again->name == assignment->name);
}

bool SameFirmwareMessage(const FirmwareMessage& a, const FirmwareMessage& b) {
  return a.mac == b.mac && a.sequence == b.sequence && a.kind == b.kind && a.length == b.length &&
         a.checksum == b.checksum && a.data == b.data;
}

void CheckFirmwareMessage(ByteView d) {
  const std::optional<FirmwareMessage> message = ParseFirmwareMessage(d);
  if (!message) return;
  OXLO_FUZZ_CHECK(d.size() >= kFirmwareEndSize && AcceptDatagram(d) == code::kFirmware);
  OXLO_FUZZ_CHECK(message->mac == MacOf(d));

  if (message->kind == kFirmwareKindData) {
    OXLO_FUZZ_CHECK(!message->data.empty() && message->data.size() <= kFirmwareChunkSize);
    OXLO_FUZZ_CHECK(message->data.size() == message->length);
    OXLO_FUZZ_CHECK(d.size() == kFirmwareEndSize + message->data.size());
    // What the tool sends for the same chunk: the checksum is its own.
    const std::optional<FirmwareMessage> again =
        ParseFirmwareMessage(BuildFirmwareData(message->mac, message->sequence, message->data));
    OXLO_FUZZ_CHECK(again.has_value());
    FirmwareMessage expected = *message;
    expected.checksum = FirmwareChecksum::Of(message->data);
    OXLO_FUZZ_CHECK(SameFirmwareMessage(*again, expected));
  } else {
    OXLO_FUZZ_CHECK(message->kind == kFirmwareKindEnd);
    OXLO_FUZZ_CHECK(d.size() == kFirmwareEndSize && message->data.empty());
    const std::optional<FirmwareMessage> again = ParseFirmwareMessage(
        BuildFirmwareEnd(message->mac, message->sequence, message->length, message->checksum));
    OXLO_FUZZ_CHECK(again.has_value() && SameFirmwareMessage(*again, *message));
  }
}

// The same bytes as a settings file: its sections, and the filter section
// written back from the table it loaded.
void CheckSettingsFile(ByteView d) {
  // The import's value check reads only inside a file long enough for it.
  try {
    CheckSettingsFileValues(d);
  } catch (const SettingsFileValueError&) {
  } catch (const ConversionError&) {
    OXLO_FUZZ_CHECK(d.size() < kSettingsFileMinSize);
  }
  const SettingsFileSections s = SplitSettingsFile(d);
  OXLO_FUZZ_CHECK(s.network.size() + s.opMode.size() + s.can.size() + s.filters.size() ==
                  std::min(d.size(), kSettingsFileSize));
  FilterTable table;
  try {
    ParseFilterSection(s.filters, table);
  } catch (const ConversionError&) {
    OXLO_FUZZ_CHECK(s.filters.size() < static_cast<std::size_t>(kFilterCount));
    return;
  }
  const Bytes section = BuildFilterSection(table);
  OXLO_FUZZ_CHECK(section.size() == kFilterSectionSize);
  if (s.filters.size() == kFilterSectionSize) {
    FilterTable again;
    ParseFilterSection(section, again);
    for (std::size_t k = 0; k < again.entries.size(); ++k) {
      OXLO_FUZZ_CHECK(again.entries[k].type == table.entries[k].type);
    }
  }
}

void CheckSmallReaders(ByteView d) {
  std::string error;
  const std::optional<std::int32_t> small = Convert([&] { return SmallFieldToInt(d); }, &error);
  OXLO_FUZZ_CHECK(small.has_value() == !d.empty());
  if (small) OXLO_FUZZ_CHECK(*small == (d.size() == 1 ? d[0] : d[0] + 256 * d[1]));

  const std::string fixed = FixedTextFromField(d);
  OXLO_FUZZ_CHECK(fixed.size() <= d.size() && fixed.find('\0') == std::string::npos);
  OXLO_FUZZ_CHECK(std::equal(fixed.begin(), fixed.end(), d.begin(), [](char c, std::uint8_t b) {
    return static_cast<std::uint8_t>(c) == b;
  }));
  OXLO_FUZZ_CHECK(fixed.size() == d.size() || d[fixed.size()] == 0x00);

  OXLO_FUZZ_CHECK(IsValidUtf8(d) == ReferenceUtf8(d));
  // Whole inputs are rarely well-formed; short windows meet every lead byte.
  for (std::size_t i = 0; i < d.size() && i < 64; ++i) {
    for (std::size_t n = 1; n <= 4 && i + n <= d.size(); ++n) {
      OXLO_FUZZ_CHECK(IsValidUtf8(d.subspan(i, n)) == ReferenceUtf8(d.subspan(i, n)));
    }
  }

  const std::string hex = BytesToHex(d);
  OXLO_FUZZ_CHECK(hex.size() == 2 * d.size() && IsUpperHex(hex));
  for (std::size_t i = 0; i < d.size() && i < 8; ++i) {
    OXLO_FUZZ_CHECK(HexPairToByte(std::string_view(hex).substr(2 * i)) == d[i]);
  }
  if (d.size() >= 4) {
    const std::uint32_t bigEndian = static_cast<std::uint32_t>(d[0]) << 24 |
                                    static_cast<std::uint32_t>(d[1]) << 16 |
                                    static_cast<std::uint32_t>(d[2]) << 8 | d[3];
    OXLO_FUZZ_CHECK(static_cast<std::uint32_t>(HexDigitsToInt(BytesToHex(d.first(4)))) ==
                    bigEndian);
    // CanIdFromBytes reads datagram order (least significant first).
    const std::string id = CanIdFromBytes(d.first(4));
    OXLO_FUZZ_CHECK(id.size() == 8 && IsUpperHex(id));
    const std::array<std::uint8_t, 4> back = CanIdToBytes(id);
    OXLO_FUZZ_CHECK(std::equal(back.begin(), back.end(), d.begin()));
  }
}

// --- Texts ---------------------------------------------------------------

void CheckHexToInt(std::string_view text) {
  std::string error;
  const std::optional<std::int32_t> value = Convert([&] { return HexToInt(text); }, &error);
  OXLO_FUZZ_CHECK(value.has_value() == AllHex(text));
  if (!value) {
    OXLO_FUZZ_CHECK(error == "No Hex-Number");
    return;
  }
  // Only the last 8 digits count.
  OXLO_FUZZ_CHECK(HexToInt(text.substr(text.size() > 8 ? text.size() - 8 : 0)) == *value);
  if (text.size() <= 8) {
    OXLO_FUZZ_CHECK(static_cast<std::uint32_t>(*value) ==
                    std::strtoul(std::string(text).c_str(), nullptr, 16));
  }
  const std::string digits = IntToHexDigits(*value);
  OXLO_FUZZ_CHECK(IsUpperHex(digits) && digits.size() <= 8);
  OXLO_FUZZ_CHECK((*value == 0) == digits.empty());
  OXLO_FUZZ_CHECK(digits.empty() || digits[0] != '0');
  OXLO_FUZZ_CHECK(HexToInt(digits) == *value);

  const std::uint8_t pair = HexPairToByte(text);
  if (text.size() >= 2) {
    OXLO_FUZZ_CHECK(pair == std::strtoul(std::string(text.substr(0, 2)).c_str(), nullptr, 16));
  } else {
    OXLO_FUZZ_CHECK(pair == 0);
  }
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = text.find(separator, start);
    if (end == std::string_view::npos) {
      parts.push_back(text.substr(start));
      return parts;
    }
    parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
}

void CheckSeparated(std::string_view text) {
  std::string error;
  const auto hex =
      Convert([&] { return SeparatedToHex(text, '-', PartKind::kHexadecimal); }, &error);
  if (hex) {
    const auto parts = static_cast<std::size_t>(std::count(text.begin(), text.end(), '-')) + 1;
    OXLO_FUZZ_CHECK(IsUpperHex(*hex) && hex->size() >= 2 * parts);
  } else {
    OXLO_FUZZ_CHECK(error == "No Hex-Number");
  }

  // The decimal kind fails on its first part that is not a number, naming it.
  const auto decimal =
      Convert([&] { return SeparatedToHex(text, '.', PartKind::kDecimal); }, &error);
  const std::vector<std::string_view> parts = Split(text, '.');
  const auto bad = std::find_if(parts.begin(), parts.end(), [](std::string_view part) {
    return !ParsePlatformInteger(part).has_value();
  });
  OXLO_FUZZ_CHECK(decimal.has_value() == (bad == parts.end()));
  if (decimal) {
    OXLO_FUZZ_CHECK(IsUpperHex(*decimal) && decimal->size() >= 2 * parts.size());
  } else {
    OXLO_FUZZ_CHECK(error == NotAnIntegerMessage(*bad));
  }
}

void CheckIpv4(std::string_view text) {
  const std::optional<Ipv4Field> direct = Convert([&] { return Ipv4ToBytes(text); });
  const std::optional<Ipv4Field> separated = Convert([&] { return Ipv4ToBytesSeparated(text); });

  // Four parts that are numbers, each kept to its low 8 bits.
  const std::vector<std::string_view> parts = Split(text, '.');
  std::vector<std::int32_t> values;
  for (std::string_view part : parts) {
    if (const auto value = ParsePlatformInteger(part)) values.push_back(*value);
  }
  const bool fourNumbers = parts.size() == 4 && values.size() == 4;
  OXLO_FUZZ_CHECK(direct.has_value() == fourNumbers);
  if (fourNumbers) {
    for (std::size_t i = 0; i < 4; ++i) {
      OXLO_FUZZ_CHECK((*direct)[i] == static_cast<std::uint8_t>(values[i]));
    }
    // Both routes agree where every part fits a byte.
    if (std::all_of(values.begin(), values.end(),
                    [](std::int32_t v) { return v >= 0 && v <= 255; })) {
      OXLO_FUZZ_CHECK(separated.has_value() && *separated == *direct);
    }
  }
  if (direct) {
    const std::string shown = Ipv4ToText(*direct);
    OXLO_FUZZ_CHECK(Ipv4ToBytes(shown) == *direct);
    OXLO_FUZZ_CHECK(Ipv4ToBytesSeparated(shown) == *direct);
  }
  // The operator's field takes what fits and refuses, never wraps, the rest.
  bool out_of_range = false;
  std::optional<Ipv4Field> field;
  try {
    field = AddressFieldFromText(text, "IP Address");
  } catch (const FieldRangeError&) {
    out_of_range = true;
  } catch (const ConversionError&) {
  }
  OXLO_FUZZ_CHECK(field.has_value() || out_of_range || !direct);
  if (field) OXLO_FUZZ_CHECK(direct && *field == *direct);
  // The dotted quad of an address the check accepts reads back as the same values.
  if (const std::optional<std::string> canonical = CanonicalAddressText(text)) {
    OXLO_FUZZ_CHECK(CheckAddressText(*canonical) && CanonicalAddressText(*canonical) == canonical);
    OXLO_FUZZ_CHECK(Ipv4ToBytes(*canonical) == Ipv4ToBytesSeparated(*canonical));
  }
}

void CheckMac(std::string_view text) {
  const MacField mac = MacToBytes(text);
  const std::string shown = MacToText(mac);
  OXLO_FUZZ_CHECK(shown.size() == 17);
  OXLO_FUZZ_CHECK(MacToBytes(shown) == mac);
  OXLO_FUZZ_CHECK(MacToBytesSeparated(shown) == mac);

  const std::optional<MacField> separated = Convert([&] { return MacToBytesSeparated(text); });
  if (separated) OXLO_FUZZ_CHECK(MacToBytesSeparated(MacToText(*separated)) == *separated);

  // On a well-formed MAC text the two readings agree.
  bool wellFormed = text.size() == 17;
  for (std::size_t i = 0; wellFormed && i < text.size(); ++i) {
    wellFormed = i % 3 == 2 ? text[i] == '-' : IsHexDigit(text[i]);
  }
  if (wellFormed) OXLO_FUZZ_CHECK(separated.has_value() && *separated == mac);
}

void CheckWord(std::string_view text) {
  const std::optional<std::int32_t> value = ParsePlatformInteger(text);
  std::string error;
  const auto word = Convert([&] { return WordToBytes(text); }, &error);
  OXLO_FUZZ_CHECK(word.has_value() == value.has_value());
  if (!word) {
    OXLO_FUZZ_CHECK(error == NotAnIntegerMessage(text));
    return;
  }
  if (*value >= 0 && *value <= 0xFFFF) {
    OXLO_FUZZ_CHECK(((*word)[0] | (*word)[1] << 8) == *value);
    OXLO_FUZZ_CHECK(WordFromText(text) == *value);
  }
}

void CheckCanId(std::string_view text) {
  std::string error;
  const auto bytes = Convert([&] { return CanIdToBytes(text); }, &error);
  OXLO_FUZZ_CHECK(bytes.has_value() == (text.size() <= kCanIdTextMax));
  if (!bytes) {
    OXLO_FUZZ_CHECK(error == "No Hex-Number");
  } else {
    const std::string back = CanIdFromBytes(*bytes);
    OXLO_FUZZ_CHECK(back.size() == 8 && IsUpperHex(back));
    if (AllHex(text)) OXLO_FUZZ_CHECK(HexToInt(back) == HexToInt(text));
  }

  const std::optional<std::int32_t> value = Convert([&] { return HexToInt(text); });
  const auto asUnsigned = static_cast<std::uint32_t>(value.value_or(0));
  const bool standard = CanFormCheck(text, kFilterStandard);
  const bool extended = CanFormCheck(text, kFilterExtend);
  OXLO_FUZZ_CHECK(standard == (value.has_value() && asUnsigned <= 0x7FF));
  OXLO_FUZZ_CHECK(extended == (value.has_value() && asUnsigned <= 0x1FFFFFFF));
  OXLO_FUZZ_CHECK(CanFormCheck(text, 0) == extended);
}

void CheckPlatformInteger(std::string_view text) {
  const std::optional<std::int32_t> value = ParsePlatformInteger(text);
  std::string error;
  const auto read = Convert([&] { return ReadDecimal(text); }, &error);
  OXLO_FUZZ_CHECK(read == value);

  // Decimal digits read as the C library reads them, with either sign.
  const std::size_t blanks = std::min(text.find_first_not_of(' '), text.size());
  std::string_view digits = text.substr(blanks);
  if (!digits.empty() && (digits[0] == '+' || digits[0] == '-')) digits.remove_prefix(1);
  if (!digits.empty() && digits.size() <= 18 &&
      std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    for (const std::string& signed_text :
         {std::string(text), std::string(digits), "-" + std::string(digits)}) {
      const long long expected = std::strtoll(signed_text.c_str(), nullptr, 10);
      const bool fits = expected >= INT32_MIN && expected <= INT32_MAX;
      const std::optional<std::int32_t> parsed = ParsePlatformInteger(signed_text);
      OXLO_FUZZ_CHECK(parsed.has_value() == fits);
      if (fits) OXLO_FUZZ_CHECK(*parsed == expected);
    }
  }
  if (!value) {
    OXLO_FUZZ_CHECK(error == NotAnIntegerMessage(text));
    return;
  }
  const std::string decimal = std::to_string(*value);
  OXLO_FUZZ_CHECK(ParsePlatformInteger(decimal) == value);
  OXLO_FUZZ_CHECK(ParsePlatformInteger("  " + decimal) == value);
  if (*value != 0) OXLO_FUZZ_CHECK(ParsePlatformInteger("$" + IntToHexDigits(*value)) == value);
}

void CheckNames(ByteView d, std::string_view text) {
  NameField field{};
  std::copy_n(d.begin(), std::min(d.size(), field.size()), field.begin());

  const std::string name = NameFromField(field);
  OXLO_FUZZ_CHECK(IsShowableName(name));
  OXLO_FUZZ_CHECK(NameFromField(NameToField(name)) == name);

  const std::string whole = NameFromFieldWhole(field);
  OXLO_FUZZ_CHECK(IsShowableName(whole));
  OXLO_FUZZ_CHECK(NameFromFieldWhole(NameToField(whole)) == whole);

  // A well-formed field is taken as it stands, up to its first NUL.
  if (ReferenceUtf8(field)) {
    const auto nul = std::find(field.begin(), field.end(), std::uint8_t{0});
    const std::string upToNul(field.begin(), nul);
    OXLO_FUZZ_CHECK(whole == upToNul);
    if (!upToNul.empty()) OXLO_FUZZ_CHECK(name == upToNul);
  }

  const NameField made = NameToField(text);
  const std::size_t kept = std::min(text.size(), made.size());
  OXLO_FUZZ_CHECK(
      std::equal(made.begin(), made.begin() + static_cast<std::ptrdiff_t>(kept), d.begin()));
  OXLO_FUZZ_CHECK(std::all_of(made.begin() + static_cast<std::ptrdiff_t>(kept), made.end(),
                              [](std::uint8_t b) { return b == 0; }));
}

// Appends code point `c` as UTF-8.
void AppendUtf8(std::string& text, std::uint32_t c) {
  if (c < 0x80) {
    text.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    text.push_back(static_cast<char>(0xC0 | c >> 6));
    text.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    text.push_back(static_cast<char>(0xE0 | c >> 12));
    text.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
    text.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    text.push_back(static_cast<char>(0xF0 | c >> 18));
    text.push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
    text.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
    text.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// A name an operator could type, made from the input: each byte picks a
// character of 1 to 4 bytes. Names longer than the field get their last
// character cut by NameToField, which every reader must recover from.
void CheckNameRecovery(ByteView d) {
  std::string name;
  std::string whole;  // the longest run of whole characters within 32 bytes
  for (std::size_t i = 0; i < d.size() && name.size() < 48; ++i) {
    const std::uint8_t b = d[i];
    const std::uint32_t c = b % 4 == 0   ? 0x21 + b / 4       // ASCII
                            : b % 4 == 1 ? 0xC0 + b           // 2 bytes
                            : b % 4 == 2 ? 0x20AC + b         // 3 bytes
                                         : 0x1F600 + b % 64;  // 4 bytes
    AppendUtf8(name, c);
    if (name.size() <= kNameFieldSize) whole = name;
  }

  const NameField field = NameToField(name);
  OXLO_FUZZ_CHECK(NameFromField(field) == whole);
  OXLO_FUZZ_CHECK(NameFromFieldWhole(field) == whole);

  DeviceIdentity device;
  device.name = name;
  const std::optional<DeviceRecord> record = ParseDiscoveryReply(BuildDiscoveryReply(device));
  OXLO_FUZZ_CHECK(record && record->name == whole);

  NetworkSettings settings;
  settings.name = name;
  const NetworkReply reply = ParseNetworkReply(BuildNetworkReply(MacField{}, settings));
  OXLO_FUZZ_CHECK(reply.name == whole);

  const std::optional<AddressAssignment> assignment = ParseAddressAssignment(
      BuildAddressAssignment("00-1A-2B-3C-4D-5E", "10.0.0.2", "255.255.255.0", "10.0.0.1", name));
  OXLO_FUZZ_CHECK(assignment && assignment->name == whole);
}

}  // namespace
}  // namespace oxlo::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace oxlo::fuzz;
  const oxlo::ByteView d(data, size);
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  CheckFrame(d);
  CheckDiscoveryReply(d);
  CheckNetworkReply(d);
  CheckOpModeReply(d);
  CheckCanSettings(d);
  CheckFilterGroup(d);
  CheckAddressAssignment(d);
  CheckFirmwareMessage(d);
  CheckSettingsFile(d);
  CheckSmallReaders(d);

  CheckHexToInt(text);
  CheckSeparated(text);
  CheckIpv4(text);
  CheckMac(text);
  CheckWord(text);
  CheckCanId(text);
  CheckPlatformInteger(text);
  CheckNames(d, text);
  CheckNameRecovery(d);
  return 0;
}
