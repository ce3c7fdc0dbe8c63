// How the command-line tool shows devices and their settings.
#include "cli/output.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <tuple>

#include "cli/fleet.h"
#include "tests/support/sample_settings.h"

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
  for (const char* line : {"Device 02-00-5E-00-00-07",
                           "Network",
                           "  Name:          Förderband Süd",
                           "  Type:          DHCP",
                           "  Address:       192.168.7.20",
                           "  Subnet mask:   255.255.255.0",
                           "  Gateway:       192.168.7.1",
                           "  DNS:           9.9.9.9",
                           "Port",
                           "  Alias:         Wärme",
                           "  Mode:          UDP_Client",
                           "  Local port:    5001",
                           "  Target:        192.168.7.99:6001",
                           "  Alive:         30",
                           "  Latency:       12",
                           "  No delay:      yes",
                           "  Type:          Modem",
                           "CAN",
                           "  Bit rate:      125 kbps",
                           "  ID format:     29-bit",
                           "  ID:            1FFFFFFF",
                           "  Mask:          0000ABCD",
                           "Filters",
                           "    1  Disable   00000003",
                           "    2  Standard  00000013",
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
      {[](DeviceSettings& s) { s.network.networkType = 0; }, "  Type:          Static IP",
       "/network/type", "Static IP"},
      {[](DeviceSettings& s) { s.network.networkType = 7; }, "  Type:          unknown (7)",
       "/network/type", "unknown (7)"},
      {[](DeviceSettings& s) { s.port.portType = kPortTypeData; }, "  Type:          Data",
       "/port/type", "Data"},
      {[](DeviceSettings& s) { s.can.baudIndex = 0; }, "  Bit rate:      20 kbps",
       "/can/bitrate_kbps", 20},
      {[](DeviceSettings& s) { s.can.baudIndex = 9; }, "  Bit rate:      1000 kbps",
       "/can/bitrate_kbps", 1000},
      {[](DeviceSettings& s) { s.can.baudIndex = 10; }, "  Bit rate:      unknown (10)",
       "/can/bitrate_kbps", "unknown (10)"},
      {[](DeviceSettings& s) { s.can.idFormat = kIdFormat11Bit; }, "  ID format:     11-bit",
       "/can/id_format", "11-bit"},
      {[](DeviceSettings& s) { s.can.idFormat = 0; }, "  ID format:     unknown (0)",
       "/can/id_format", "unknown (0)"},
      {[](DeviceSettings& s) { s.filters.entries[3].type = 255; }, "    4  unknown (255) 00000033",
       "/filters/3/type", "unknown (255)"},
  };
  for (const Case& c : cases) {
    DeviceSettings settings = SampleSettings();
    c.set(settings);
    EXPECT_TRUE(HasLine(Text(settings), c.line)) << c.line;
    EXPECT_EQ(Json(settings).at(nlohmann::json::json_pointer(c.jsonPointer)), c.jsonValue)
        << c.line;
  }
}

TEST(SettingsJson, HasStableKeysAndUtf8Texts) {
  const nlohmann::json j = Json(SampleSettings());
  const nlohmann::json expected = {
      {"mac", "02-00-5E-00-00-07"},
      {"network",
       {{"name", "Förderband Süd"},
        {"type", "DHCP"},
        {"ip", "192.168.7.20"},
        {"mask", "255.255.255.0"},
        {"gateway", "192.168.7.1"},
        {"dns", "9.9.9.9"}}},
      {"port",
       {{"alias", "Wärme"},
        {"mode", "UDP_Client"},
        {"local_port", 5001},
        {"target_ip", "192.168.7.99"},
        {"target_port", 6001},
        {"alive", 30},
        {"latency", 12},
        {"no_delay", true},
        {"type", "Modem"}}},
      {"can",
       {{"bitrate_kbps", 125}, {"id_format", "29-bit"}, {"id", "1FFFFFFF"}, {"mask", "0000ABCD"}}}};
  for (const auto& [key, value] : expected.items()) EXPECT_EQ(j.at(key), value) << key;
  ASSERT_EQ(j.at("filters").size(), 32u);
  EXPECT_EQ(j.at("filters").at(31),
            (nlohmann::json{{"group", 8}, {"slot", 4}, {"type", "Standard"}, {"id", "000001F3"}}));
  EXPECT_EQ(j.size(), 5u);
}

TEST(EscapeControls, LeavesTextAndEscapesWhatATerminalWouldObey) {
  struct Case {
    std::string text;
    std::string shown;
  };
  const Case cases[] = {
      {"Oxlo-1", "Oxlo-1"},
      {"Förderband Süd €\xF0\x9F\x98\x80", "Förderband Süd €\xF0\x9F\x98\x80"},
      {"\xC2\xA0\xC3\xBF", "\xC2\xA0\xC3\xBF"},  // U+00A0 and U+00FF, the C1 range's neighbours
      {"\x1b]0;pwned\x07", "\\x1b]0;pwned\\x07"},
      {"\x1b[2J\r\n\t", "\\x1b[2J\\x0d\\x0a\\x09"},
      {std::string("a\0b", 3), "a\\x00b"},
      {"\x1f \x7f", "\\x1f \\x7f"},
      {"\xC2\x80\xC2\x9B[2J\xC2\x9F", "\\u0080\\u009b[2J\\u009f"},
      // A backslash is escaped too, so "\x1b" in a name is not an ESC.
      {"C:\\x1b", "C:\\\\x1b"},
      // Bytes outside valid UTF-8: cut, stray, overlong, surrogate, past U+10FFFF.
      {"ab\xC3", "ab\\xc3"},
      {"\2332J", "\\x9b2J"},  // 0x9B (CSI), then 2J
      {"\xC0\xAF", "\\xc0\\xaf"},
      {"\xED\xA0\x80", "\\xed\\xa0\\x80"},
      {"\xF4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},
      {"\xE2\x82", "\\xe2\\x82"},
      // Bidirectional controls would show "invoice\u202egnp.exe" as "invoiceexe.png".
      {"invoice\xE2\x80\xAEgnp.exe", "invoice\\u202egnp.exe"},
      {"\xE2\x80\xAA\xE2\x80\xAB\xE2\x80\xAC\xE2\x80\xAD", "\\u202a\\u202b\\u202c\\u202d"},
      {"\xE2\x81\xA6x\xE2\x81\xA7\xE2\x81\xA8\xE2\x81\xA9", "\\u2066x\\u2067\\u2068\\u2069"},
      // Their neighbours are text: U+2029, U+202F, U+2065, U+206A.
      {"\xE2\x80\xA9\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA",
       "\xE2\x80\xA9\xE2\x80\xAF\xE2\x81\xA5\xE2\x81\xAA"},
  };
  for (const Case& c : cases) EXPECT_EQ(EscapeControls(c.text), c.shown) << c.shown;
}

// Columns of the table, counted in terminal cells up to where `text` starts.
std::size_t ColumnOf(const std::string& line, const std::string& text) {
  const std::size_t at = line.find(text);
  EXPECT_NE(at, std::string::npos) << text << " not in " << line;
  return static_cast<std::size_t>(std::count_if(line.begin(),
                                                line.begin() + static_cast<std::ptrdiff_t>(at),
                                                [](char c) { return (c & 0xC0) != 0x80; }));
}

TEST(DeviceTable, DeviceTextsCannotControlTheTerminalAndStayAligned) {
  // The model in Latin-1: octal 233 is 0x9B, CSI.
  DeviceRecord hostile{"CG\2332J",    "02-00-00-00-00-01", "1.0\x7f",  "\x1b]0;pwned\x07",
                       "10.57.0.101", "255.255.255.0",     "10.57.0.1"};
  DeviceRecord plain{"Oxlo CG-100", "02-00-00-00-00-02", "1.0.1",    "Förderband Süd",
                     "10.57.0.102", "255.255.255.0",     "10.57.0.1"};
  std::ostringstream out;
  PrintDeviceTable(out, {SeenDevice{hostile, {"eth0"}}, SeenDevice{plain, {"wlan0"}}});
  const std::string table = out.str();
  for (std::size_t i = 0; i + 1 < table.size(); ++i) {
    const auto c = static_cast<unsigned char>(table[i]);
    EXPECT_FALSE((c < 0x20 && c != '\n') || c == 0x7F) << "byte " << int{c} << " at " << i;
    EXPECT_FALSE(c == 0xC2 && static_cast<unsigned char>(table[i + 1]) <= 0x9F) << "C1 at " << i;
  }
  std::istringstream lines(table);
  std::string header, first, second;
  std::getline(lines, header);
  std::getline(lines, first);
  std::getline(lines, second);
  EXPECT_EQ(first.substr(0, first.find("  ")), "CG\\u009b2J");
  EXPECT_NE(first.find("1.0\\x7f"), std::string::npos) << first;
  EXPECT_NE(first.find("\\x1b]0;pwned\\x07"), std::string::npos) << first;
  for (const auto& [column, hostileCell, plainCell] :
       {std::tuple{"MAC", "02-00-00-00-00-01", "02-00-00-00-00-02"},
        std::tuple{"NAME", "\\x1b]0;pwned", "Förderband Süd"},
        std::tuple{"IP", "10.57.0.101", "10.57.0.102"}, std::tuple{"INTERFACE", "eth0", "wlan0"}}) {
    EXPECT_EQ(ColumnOf(first, hostileCell), ColumnOf(header, column)) << column;
    EXPECT_EQ(ColumnOf(second, plainCell), ColumnOf(header, column)) << column;
  }
}

TEST(DisplayColumns, CountsTheCellsATerminalGivesEachCharacter) {
  struct Case {
    const char* text;
    std::size_t columns;
  };
  for (const Case& c : {
           Case{"", 0}, Case{"Press hall", 10},
           Case{"F\xC3\xB6rderband", 10},        // two bytes, one cell
           Case{"Cafe\xCC\x81", 4},              // e and a combining acute
           Case{"a\u200Bb", 2},                  // a zero-width space
           Case{"\xE6\x97\xA5\xE6\x9C\xAC", 4},  // two CJK ideographs
           Case{"\xED\x95\x9C", 2},              // a Hangul syllable
           Case{"\xEF\xBC\xA1", 2},              // a fullwidth A
           Case{"\xF0\x9F\x98\x80", 2},          // an emoji
           Case{"ab\xC3", 3},                    // a byte outside UTF-8
       }) {
    EXPECT_EQ(DisplayColumns(c.text), c.columns) << c.text;
  }
}

TEST(Table, LinesUpWideAndCombiningTextByTerminalCells) {
  std::ostringstream out;
  PrintTable(out, {{"NAME", "IP"},
                   {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", "10.0.0.1"},
                   {"Cafe\xCC\x81", "10.0.0.2"},
                   {"plain", "10.0.0.3"}});
  EXPECT_EQ(out.str(),
            "NAME    IP\n"
            "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E  10.0.0.1\n"
            "Cafe\xCC\x81    10.0.0.2\n"
            "plain   10.0.0.3\n");
}

// Scripts and people read each change as key, before, after: config set
// --json and the fleet's report list them alike, in that order.
TEST(DiffJson, EveryReportListsAChangeAsKeyBeforeAfter) {
  SettingsChange change;
  change.diff = {{"port.local_port", 4100, 4200}, {"network.name", "Hall", "Hall 2"}};
  const std::string expected = R"([{"key":"port.local_port","before":4100,"after":4200},)"
                               R"({"key":"network.name","before":"Hall","after":"Hall 2"}])";
  std::ostringstream out;
  PrintChangeJson(out, "02-00-00-00-00-01", change);
  EXPECT_EQ(Document::parse(out.str()).at("diff").dump(), expected);
  FleetResult result{"02-00-00-00-00-01", FleetOutcome::kWouldChange, change};
  EXPECT_EQ(FleetReport({result}).at("devices").at(0).at("diff").dump(), expected);
}

// What a shell makes of a word: the bytes it hands a program.
std::string ThroughShell(const std::string& shell, const std::string& word) {
  const std::string script = ::testing::TempDir() + "shell_quote.sh";
  {
    std::ofstream file(script, std::ios::binary);
    file << "printf %s " << word << "\n";
  }
  std::string out;
  if (FILE* pipe = ::popen((shell + " " + script).c_str(), "r")) {
    char buffer[256];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    ::pclose(pipe);
  }
  return out;
}

// Single quotes only: dash and every other POSIX shell read them alike, and
// nothing inside is expanded or run.
TEST(ShellQuote, GivesTheTextBackInAnyPosixShell) {
  for (const std::string name : {"Press hall", "it's", "a\\b $HOME `x` $(touch x)", "",
                                 "F\xC3\xB6"
                                 "rderband S\xC3\xBC"
                                 "d",
                                 "\x1b]0;pwned\x07", "tab\there", "a\nb'; touch x #",
                                 "\xC2\x9B"
                                 "2J",
                                 "bad \xC3", "'\\'\\"}) {
    const std::string word = ShellQuote(name);
    EXPECT_EQ(word.find("$'"), std::string::npos) << word;
    EXPECT_EQ(ThroughShell("sh", word), name) << word;
    EXPECT_EQ(ThroughShell("bash", word), name) << word;
  }
}

TEST(SettingsText, DeviceTextsAreEscaped) {
  DeviceSettings settings = SampleSettings();
  settings.network.name = "\x1b[2JName";
  settings.port.alias = "W\x9b\xE4rme";  // Latin-1
  settings.can.id = "\x07";
  settings.can.mask = "A\\B";
  settings.filters.entries[0].id = "\x1b]0;x\x07";
  const std::string text = Text(settings);
  for (const char* line :
       {"  Name:          \\x1b[2JName", "  Alias:         W\\u009bärme", "  ID:            \\x07",
        "  Mask:          A\\\\B", "    1  Disable   \\x1b]0;x\\x07"}) {
    EXPECT_TRUE(HasLine(text, line)) << "no line '" << line << "' in\n" << text;
  }
  EXPECT_EQ(text.find('\x1b'), std::string::npos);
  EXPECT_EQ(text.find('\x07'), std::string::npos);
}

TEST(SettingsJson, ANameCutInsideACharacterIsStillPrinted) {
  DeviceSettings settings = SampleSettings();
  settings.network.name = "ab\xC3";
  EXPECT_EQ(Json(settings).at("network").at("name"), "ab\xEF\xBF\xBD");
}

}  // namespace
}  // namespace oxlo::cli
