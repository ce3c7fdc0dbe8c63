// Settings as a document: nothing lost between a device and a document, a
// change touches only its keys, and every value the window refuses is
// refused here with its message and key.
#include "protocol/settings/settings_document.h"

#include <gtest/gtest.h>

#include "tests/support/sample_settings.h"

namespace oxlo {
namespace {

using testing::SampleSettings;

std::string Changed(const DeviceSettings& before, const DeviceSettings& after) {
  std::string keys;
  for (const SettingChange& c : DiffSettings(before, after)) {
    keys += (keys.empty() ? "" : " ") + c.key + "=" + c.after.dump();
  }
  return keys;
}

// Codes no list names, as a device may hold them, go round unchanged too.
DeviceSettings OddSettings() {
  DeviceSettings s = SampleSettings();
  s.network.networkType = 7;
  s.port.portType = 9;
  s.can.baudIndex = 12;
  s.can.idFormat = 5;
  s.filters.Slot(7, 3).type = 255;
  return s;
}

TEST(SettingsDocument, ADocumentReadOutGoesBackWithoutLoss) {
  for (const DeviceSettings& held : {SampleSettings(), OddSettings()}) {
    // Through its text, as a file or another program would hand it back.
    const Document reread = Document::parse(SettingsToDocument(held).dump(2));
    EXPECT_EQ(ApplyDocument(held, reread), held) << reread.dump(2);
  }
  // A whole document sets every value another device holds.
  EXPECT_EQ(ApplyDocument(OddSettings(), SettingsToDocument(SampleSettings())), SampleSettings());
  const Document sample = SettingsToDocument(SampleSettings());
  EXPECT_EQ(sample["port"]["mode"], "UDP_Client");
  EXPECT_EQ(sample["port"]["alias"], "W\xC3\xA4rme");  // Latin-1 on the wire
  EXPECT_EQ(sample["can"]["bitrate_kbps"], 125);
  EXPECT_EQ(sample["can"]["id_format"], "29-bit");
  EXPECT_EQ(sample["filters"][5],
            Document::parse(R"({"group":2,"slot":2,"type":"Extend","id":"00000053"})"));
  EXPECT_EQ(SettingsToDocument(OddSettings())["can"]["bitrate_kbps"], "unknown (12)");
}

TEST(SettingsDocument, AChangeTouchesOnlyItsKeys) {
  const struct {
    std::vector<std::string> assignments;
    const char* changed;
  } cases[] = {
      {{"port.local_port=4001"}, "port.local_port=4001"},
      {{"can.bitrate_kbps=250", "port.no_delay=false"}, "port.no_delay=false can.bitrate_kbps=250"},
      {{"network.name=Halle 3", "network.ip=010.000.000.007"},
       R"(network.name="Halle 3" network.ip="10.0.0.7")"},
      {{"filters.3.2.id=1FF", "filters.8.4.type=Disable"},
       R"(filters.3.2.id="1FF" filters.8.4.type="Disable")"},
      {{"port.mode=TCP_Server", "port.alias=K\xC3\xBChlung"},
       R"(port.alias="Kühlung" port.mode="TCP_Server")"},
      {{"port.local_port=5001"}, ""},  // the value it holds
      {{"can.id=1FFFFFFF"}, ""},
  };
  for (const auto& c : cases) {
    const DeviceSettings held = SampleSettings();
    const DeviceSettings wanted = ApplyDocument(held, DocumentOfAssignments(c.assignments));
    EXPECT_EQ(Changed(held, wanted), c.changed) << c.assignments.front();
  }
}

TEST(SettingsDocument, ValuesTheWindowRefusesAreRefusedWithTheKey) {
  const struct {
    const char* given;  // an assignment, or a document when it starts with {
    const char* error;
  } cases[] = {
      {"port.mode=TCP", "port.mode: Please Check Operation Mode"},
      {"can.id_format=11-bit", "can.id: Please Check CAN ID Fomat"},
      {"can.mask=G", "can.mask: Please Check CAN ID Mask Fomat"},
      {"filters.2.2.id=XYZ", "filters.2.2: Please Check Filter Type and Format 2"},
      // Nine digits fit no message, however small their value.
      {"can.id=000000001", "can.id: Please Check CAN ID Fomat"},
      {"filters.4.3.id=000000001", "filters.4.3: Please Check Filter Type and Format 3"},
      {"filters.1.2.type=Extend", ""},  // fits the identifier it holds
      {"network.ip=10.0.0.256", "network.ip: \"10.0.0.256\" is not an IPv4 address"},
      {"port.local_port=65536",
       "port.local_port: expected a whole number from 0 to 65535, not 65536"},
      {"port.latency=soon", "port.latency: expected a whole number from 0 to 65535, not \"soon\""},
      {"port.no_delay=yes", "port.no_delay: expected true or false"},
      {"can.bitrate_kbps=333",
       "can.bitrate_kbps: 333 is not one of: 20, 50, 100, 125, 200, 250, 300, 500, 800, 1000"},
      {"network.type=unknown (7)", "network.type: \"unknown (7)\" is not one of: Static IP, DHCP"},
      {"network.name=ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456",
       "network.name: longer than 32 bytes in UTF-8"},
      {"port.alias=\xE2\x82\xAC", "port.alias: only characters up to U+00FF fit"},
      {"port.speed=9600", "port.speed: unknown key"},
      {"port.local_port", "port.local_port: expected KEY=VALUE"},
      {R"({"port": {"alive": -1}})", "port.alive: expected a whole number from 0 to 65535, not -1"},
      {R"({"can": {"id": 7}})", "can.id: expected text, not 7"},
      {R"({"filters": [{"group": 9, "slot": 1, "id": "1"}]})",
       "filters: each filter names its group (1-8) and slot (1-4): "
       R"({"group":9,"slot":1,"id":"1"})"},
      {R"({"plant": "north"})", "plant: unknown key"},
      {R"([1, 2])", "a settings document is a JSON object"},
  };
  for (const auto& c : cases) {
    const std::string given = c.given;
    try {
      const Document document = given.front() == '{' || given.front() == '['
                                    ? Document::parse(given)
                                    : DocumentOfAssignments({given});
      ApplyDocument(SampleSettings(), document);
      EXPECT_STREQ(c.error, "") << given << " was taken";
    } catch (const DocumentError& error) {
      EXPECT_EQ(std::string(error.what()), c.error) << given;
    }
  }
}

// Many devices' documents are judged before any device is asked: every value
// the window would refuse whatever the device holds is refused, and what only
// the device can decide is left to it.
TEST(SettingsDocument, ValuesAreCheckedWithoutTheDevice) {
  const struct {
    const char* document;
    const char* error;  // "" when it passes
  } cases[] = {
      {R"({"port": {"local_port": 70000}})",
       "port.local_port: expected a whole number from 0 to 65535, not 70000"},
      {R"({"network": {"ip": "10.57.0.300"}})",
       "network.ip: \"10.57.0.300\" is not an IPv4 address"},
      {R"({"can": {"bitrate_kbps": 333}})",
       "can.bitrate_kbps: 333 is not one of: 20, 50, 100, 125, 200, 250, 300, 500, 800, 1000"},
      {R"({"can": {"id": "G"}})", "can.id: Please Check CAN ID Fomat"},
      {R"({"can": {"id_format": "11-bit", "id": "1FFFFFFF"}})",
       "can.id: Please Check CAN ID Fomat"},
      {R"({"filters": [{"group": 1, "slot": 1, "type": "Extend", "id": "7FF"}],
           "can": {"id_format": "11-bit"}})",
       "filters.1.1: Please Check Filter Type and Format 1"},
      {R"({"port": {"mode": "Fast"}})", "port.mode: Please Check Operation Mode"},
      {R"({"port": {"speed": 9600}})", "port.speed: unknown key"},
      // Fit for the device's format, whichever it holds.
      {R"({"can": {"id": "1FFFFFFF"}})", ""},
      {R"({"filters": [{"group": 1, "slot": 1, "type": "Extend", "id": "1FFFFFFF"}]})", ""},
      {R"({"can": {"bitrate_kbps": 250}, "network": {"name": "Press", "ip": "10.57.0.9"}})", ""},
      // A code only the device can know it holds.
      {R"j({"port": {"type": "unknown (9)"}})j", ""},
  };
  for (const auto& c : cases) {
    try {
      CheckDocumentValues(Document::parse(c.document));
      EXPECT_STREQ(c.error, "") << c.document << " was taken";
    } catch (const DocumentError& error) {
      EXPECT_EQ(std::string(error.what()), c.error) << c.document;
    }
  }
}

// Text of any shape is read with bounded work, and an error quotes no more
// than a line of it.
TEST(SettingsDocument, TextIsReadWithBoundedWorkAndShortErrors) {
  const struct {
    std::string text;
    std::string error;
  } cases[] = {
      {std::string(200000, '[') + std::string(200000, ']'),
       "nested deeper than 16 levels (at byte 17)"},
      {std::string(20000, '{') + "}", "nested deeper than 16 levels (at byte 17)"},
      {R"({"network": ")" + std::string(100000, 'x') + R"(" x})", "not valid JSON: "},
      {"\xEF\xBB\xBF{\"port\": ", "not valid JSON: "},
      {"", "not valid JSON: "},
      {R"({"port": {"local_port": -6E20206}})", "not valid JSON: "},  // a number too large
  };
  for (const auto& c : cases) {
    try {
      ParseSettingsDocument(c.text);
      ADD_FAILURE() << c.error << " was taken";
    } catch (const DocumentError& error) {
      EXPECT_EQ(std::string(error.what()).rfind(c.error, 0), 0u) << error.what();
      EXPECT_LE(std::string(error.what()).size(), 160u) << error.what();
    }
  }
  // Keys and values quoted in an error are cut short too.
  try {
    CheckDocumentShape(
        Document::parse(R"({"network)" + std::string(1000, 'W') + R"(": {"name": "x"}})"));
    ADD_FAILURE() << "taken";
  } catch (const DocumentError& error) {
    EXPECT_LE(std::string(error.what()).size(), 200u) << error.what();
  }
  // Brackets in strings are text; one byte-order mark is skipped.
  const std::string brackets(100, '[');
  EXPECT_EQ(
      ParseSettingsDocument("\xEF\xBB\xBF{\"network\": {\"name\": \"" + brackets + "\\\"\"}}"),
      Document({{"network", {{"name", brackets + "\""}}}}));
  EXPECT_EQ(ParseSettingsDocument(std::string(16, '[') + std::string(16, ']')).dump(),
            std::string(16, '[') + std::string(16, ']'));
  // A settings file starts with the STX of its first message; JSON never does.
  EXPECT_TRUE(LooksLikeSettingsFile("\x02N"));
  EXPECT_FALSE(LooksLikeSettingsFile("\xEF\xBB\xBF{}"));
  EXPECT_FALSE(LooksLikeSettingsFile(" {}"));
}

// The device ends a name at its first NUL: such a name is refused before
// anything is sent, not reported "did not take" on every run.
TEST(SettingsDocument, ANameWithANulIsRefusedWithoutTheDevice) {
  const Document document = Document::parse(R"({"network": {"name": "a\u0000b"}})");
  for (const auto& check : {CheckDocumentShape, CheckDocumentValues}) {
    try {
      check(document);
      ADD_FAILURE() << "taken";
    } catch (const DocumentError& error) {
      EXPECT_STREQ(error.what(), "network.name: a name cannot hold a NUL character");
    }
  }
}

}  // namespace
}  // namespace oxlo
