// Arbitrary bytes as a settings file the operator imports. The reading
// never crashes and fails only with its own errors; a file it accepts
// passed the value check, and its settings, written out again, make a file
// that reads back as the same settings and writes out as the same bytes: a
// file is not byte for byte what it re-encodes to (the MAC is replaced,
// padding and bytes past the fields are not kept, a filter identifier a short
// file cuts comes back padded with '0' to its 8 digits), but one round
// settles it.
#include <cstdint>
#include <optional>

#include "fuzz/fuzz_support.h"
#include "protocol/settings/settings_file.h"

namespace oxlo::fuzz {
namespace {

constexpr MacField kDevice = {0x02, 0x00, 0x5E, 0x00, 0x01, 0x02};

// The settings with every filter identifier as the file writes it: 8 digits,
// '0' in front.
DeviceSettings Padded(DeviceSettings settings) {
  for (FilterEntry& entry : settings.filters.entries) {
    if (entry.id.size() < 8) entry.id.insert(0, 8 - entry.id.size(), '0');
  }
  return settings;
}

std::optional<DeviceSettings> Read(ByteView file, bool* valueError) {
  try {
    return ParseSettingsFile(file);
  } catch (const SettingsFileValueError&) {
    *valueError = true;
  } catch (const SettingsFileError&) {
  } catch (const ConversionError&) {
  }
  return std::nullopt;
}

void CheckFile(ByteView file) {
  bool valueError = false;
  const std::optional<DeviceSettings> settings = Read(file, &valueError);

  bool checkRefused = false;
  if (file.size() >= kSettingsFileMinSize) {
    try {
      CheckSettingsFileValues(file);
    } catch (const SettingsFileValueError&) {
      checkRefused = true;
    }
  }
  // The value check runs first: what it refuses is refused with its error.
  OXLO_FUZZ_CHECK(!checkRefused || (!settings && valueError));
  if (!settings) return;
  OXLO_FUZZ_CHECK(file.size() >= kSettingsFileMinSize && !checkRefused);

  const Bytes again = BuildSettingsFile(kDevice, *settings);
  OXLO_FUZZ_CHECK(again.size() == kSettingsFileSize);
  bool againValueError = false;
  const std::optional<DeviceSettings> reread = Read(again, &againValueError);
  OXLO_FUZZ_CHECK(reread.has_value());
  OXLO_FUZZ_CHECK(*reread == Padded(*settings));
  OXLO_FUZZ_CHECK(BuildSettingsFile(kDevice, *reread) == again);
  OXLO_FUZZ_CHECK(Read(BuildSettingsFile(kDevice, *reread), &againValueError) == reread);

  // Every section of the written file is addressed to the device given.
  const SettingsFileSections sections = SplitSettingsFile(again);
  for (const ByteView section : {sections.network, sections.opMode, sections.can}) {
    OXLO_FUZZ_CHECK(MacOf(section) == kDevice);
    OXLO_FUZZ_CHECK(section.front() == kStx && section.back() == kEtx);
  }
  // Bytes past a whole file are ignored.
  Bytes longer(file.begin(), file.end());
  if (longer.size() >= kSettingsFileSize) {
    longer.resize(kSettingsFileSize);
    longer.push_back(0xA5);
    bool ignored = false;
    const std::optional<DeviceSettings> same = Read(longer, &ignored);
    OXLO_FUZZ_CHECK(same.has_value() && *same == *settings);
  }
}

}  // namespace
}  // namespace oxlo::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  oxlo::fuzz::CheckFile(oxlo::ByteView(data, size));
  return 0;
}
