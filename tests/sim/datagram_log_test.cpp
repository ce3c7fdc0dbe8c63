#include "sim/datagram_log.h"

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "sim_test_support.h"

namespace oxlo::sim {

TEST(DatagramLog, TimesAreUtcWithMilliseconds) {
  using std::chrono::milliseconds;
  using std::chrono::system_clock;
  EXPECT_EQ(IsoTime(system_clock::time_point(milliseconds(0))), "1970-01-01T00:00:00.000Z");
  EXPECT_EQ(IsoTime(system_clock::time_point(milliseconds(1234))), "1970-01-01T00:00:01.234Z");
  EXPECT_EQ(IsoTime(system_clock::time_point(milliseconds(1709210096999))),
            "2024-02-29T12:34:56.999Z");
}

TEST(DatagramLog, EachDatagramIsOneJsonLineReadableAtOnce) {
  testing::TempDir dir;
  const auto file = dir.Path() / "received.jsonl";
  DatagramLog log(file);
  std::ifstream reader(file);

  const Bytes datagrams[] = {{0x02, 0x67, 0x03}, {}, {0x00, 0x0A, 0xFF, 0x22, 0x5C}};
  for (const Bytes& datagram : datagrams) {
    log.Record("10.57.0.1", 2057, datagram);
    // Read before the log is closed: every line must already be on disk.
    std::string line;
    ASSERT_TRUE(std::getline(reader, line));
    reader.clear();
    const auto json = nlohmann::json::parse(line);
    EXPECT_EQ(json.size(), 4u);
    EXPECT_EQ(json.at("source"), "10.57.0.1");
    EXPECT_EQ(json.at("port"), 2057);
    std::string hex;
    for (std::uint8_t b : datagram) {
      char pair[3];
      std::snprintf(pair, sizeof pair, "%02x", b);
      hex += pair;
    }
    EXPECT_EQ(json.at("hex"), hex);
    EXPECT_EQ(json.at("time").get<std::string>().size(),
              std::string("1970-01-01T00:00:00.000Z").size());
  }
  EXPECT_EQ(
      LogLine(std::chrono::system_clock::time_point{}, "127.0.0.1", 9, Bytes{0x02, 0x67, 0x03}),
      R"({"time":"1970-01-01T00:00:00.000Z","source":"127.0.0.1","port":9,"hex":"026703"})");
}

TEST(DatagramLog, AnUnwritablePathIsReported) {
  testing::TempDir dir;
  EXPECT_THROW(DatagramLog(dir.Path() / "missing" / "log.jsonl"), std::runtime_error);
}

}  // namespace oxlo::sim
