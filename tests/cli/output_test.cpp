// How `config get` shows a device's settings.
#include "cli/output.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/cli/sample_settings.h"

namespace oxlo::cli {
namespace {

using testing::SampleSettings;

std::string Text(const DeviceSettings& settings) {
  std::ostringstream out;
  PrintSettingsText(out, "02-00-5E-00-00-07", settings);
  return out.str();
}

nlohmann::json Json(const DeviceSettings& settings) {
  std::ostringstream out;
  PrintSettingsJson(out, "02-00-5E-00-00-07", settings);
  return nlohmann::json::parse(out.str());
}

bool HasLine(const std::string& text, const std::string& line) {
  return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
}

TEST(SettingsText, ShowsEverySection) {
  const std::string text = Text(SampleSettings());
  for (const char* line : {"Device 02-00-5E-00-00-07", "Network", "  Name:          Förderband Süd",
                           "  Type:          DHCP", "  Address:       192.168.7.20",
                           "  Subnet mask:   255.255.255.0", "  Gateway:       192.168.7.1",
                           "  DNS:           9.9.9.9", "Port", "  Alias:         Wärme",
                           "  Mode:          UDP_Client", "  Local port:    5001",
                           "  Target:        192.168.7.99:6001", "  Alive:         30",
                           "  Latency:       12", "  No delay:      yes", "  Type:          Modem",
                           "CAN", "  Bit rate:      125 kbps", "  ID format:     B",
                           "  ID:            1FFFFFFF", "  Mask:          0000ABCD", "Filters",
                           "    1  Disable   00000003", "    2  Standard  00000013",
                           "   32  Standard  000001F3"}) {
    EXPECT_TRUE(HasLine(text, line)) << "no line '" << line << "' in\n" << text;
  }
}

// Each code as the text and the JSON name it; codes without a name say so.
TEST(SettingsText, NamesCodesAndSaysWhenThereIsNoName) {
  struct Case {
    void (*set)(DeviceSettings&);
    std::string line;
    std::string jsonPointer;
    nlohmann::json jsonValue;
  };
  const std::vector<Case> cases = {
      {[](DeviceSettings& s) { s.network.networkType = 0; }, "  Type:          Static IP", "/network/type", "Static IP"},
      {[](DeviceSettings& s) { s.network.networkType = 7; }, "  Type:          unknown (7)", "/network/type", "unknown (7)"},
      {[](DeviceSettings& s) { s.port.portType = kPortTypeData; }, "  Type:          Data", "/port/type", "Data"},
      {[](DeviceSettings& s) { s.can.baudIndex = 0; }, "  Bit rate:      20 kbps", "/can/bit_rate_kbps", 20},
      {[](DeviceSettings& s) { s.can.baudIndex = 9; }, "  Bit rate:      1000 kbps", "/can/bit_rate_kbps", 1000},
      {[](DeviceSettings& s) { s.can.baudIndex = 10; }, "  Bit rate:      unknown (10)", "/can/bit_rate_kbps", nullptr},
      {[](DeviceSettings& s) { s.can.specCode = kSpecA; }, "  ID format:     A", "/can/id_format", "A"},
      {[](DeviceSettings& s) { s.can.specCode = 0; }, "  ID format:     unknown (0)", "/can/id_format", "unknown (0)"},
      {[](DeviceSettings& s) { s.filters.entries[3].type = 255; }, "    4  unknown (255) 00000033", "/filters/3/type", "unknown (255)"},
  };
  for (const Case& c : cases) {
    DeviceSettings settings = SampleSettings();
    c.set(settings);
    EXPECT_TRUE(HasLine(Text(settings), c.line)) << c.line;
    EXPECT_EQ(Json(settings).at(nlohmann::json::json_pointer(c.jsonPointer)), c.jsonValue) << c.line;
  }
}

TEST(SettingsJson, HasStableKeysAndUtf8Texts) {
  const nlohmann::json j = Json(SampleSettings());
  const nlohmann::json expected = {
      {"mac", "02-00-5E-00-00-07"},
      {"network",
       {{"name", "Förderband Süd"}, {"type", "DHCP"}, {"ip", "192.168.7.20"},
        {"mask", "255.255.255.0"}, {"gateway", "192.168.7.1"}, {"dns", "9.9.9.9"}}},
      {"port",
       {{"alias", "Wärme"}, {"mode", "UDP_Client"}, {"local_port", 5001},
        {"target_ip", "192.168.7.99"}, {"target_port", 6001}, {"alive", 30}, {"latency", 12},
        {"no_delay", true}, {"type", "Modem"}}},
      {"can", {{"bit_rate_kbps", 125}, {"id_format", "B"}, {"id", "1FFFFFFF"}, {"mask", "0000ABCD"}}}};
  for (const auto& [key, value] : expected.items()) EXPECT_EQ(j.at(key), value) << key;
  ASSERT_EQ(j.at("filters").size(), 32u);
  EXPECT_EQ(j.at("filters").at(31), (nlohmann::json{{"number", 32}, {"type", "Standard"}, {"id", "000001F3"}}));
  EXPECT_EQ(j.size(), 5u);
}

TEST(SettingsJson, ANameCutInsideACharacterIsStillPrinted) {
  DeviceSettings settings = SampleSettings();
  settings.network.name = "ab\xC3";
  EXPECT_EQ(Json(settings).at("network").at("name"), "ab\xEF\xBF\xBD");
}

}  // namespace
}  // namespace oxlo::cli
