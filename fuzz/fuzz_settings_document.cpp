// Arbitrary text as a settings document (config apply FILE). Reading never
// crashes, never recurses past the depth limit and fails only with
// DocumentError, whose text stays short; a document the checks take is
// taken by the settings too, and what it makes reads out as a document that
// brings the same settings back.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "protocol/settings/settings_document.h"

namespace oxlo::fuzz {
namespace {

void CheckDocument(std::string_view text) {
  Document document;
  try {
    document = ParseSettingsDocument(text);
  } catch (const DocumentError& error) {
    OXLO_FUZZ_CHECK(std::string_view(error.what()).size() <= 160);
    return;
  }
  bool shapeTaken = true;
  try {
    CheckDocumentShape(document);
    CheckDocumentValues(document);
  } catch (const DocumentError& error) {
    OXLO_FUZZ_CHECK(std::string_view(error.what()).size() <= 200);
    shapeTaken = false;
  }
  DeviceSettings settings;
  try {
    settings = ApplyDocument(DeviceSettings{}, document);
  } catch (const DocumentError& error) {
    OXLO_FUZZ_CHECK(std::string_view(error.what()).size() <= 200);
    return;
  }
  // What the settings took reads out whole and goes back unchanged.
  (void)shapeTaken;
  const Document out = SettingsToDocument(settings);
  OXLO_FUZZ_CHECK(ApplyDocument(DeviceSettings{}, out) == settings);
  OXLO_FUZZ_CHECK(ParseSettingsDocument(out.dump()) == out);
}

}  // namespace
}  // namespace oxlo::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  oxlo::fuzz::CheckDocument(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
