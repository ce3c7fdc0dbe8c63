// What the window tests inside the network lab share: the lab's settings,
// waiting with the event loop running, and the simulators' datagram logs.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/protocol/test_bytes.h"

namespace oxlo::ui::lab {

inline std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : value;
}

// Spins the event loop until the condition holds or the time is up.
template <typename Condition>
bool WaitFor(Condition condition, int milliseconds = 3000) {
  QElapsedTimer clock;
  clock.start();
  while (!condition() && clock.elapsed() < milliseconds) {
    QCoreApplication::processEvents();
    QThread::msleep(5);
  }
  return condition();
}

struct Logged {
  double seconds = 0;  // time of day, UTC
  std::string source;
  Bytes data;
};

// Every datagram a simulator logged, oldest first.
inline std::vector<Logged> ReadLog(const std::string& path) {
  std::vector<Logged> out;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    const auto entry = nlohmann::json::parse(line);
    const std::string time = entry.at("time");  // 2026-12-10T04:27:49.123Z
    const double seconds = std::stoi(time.substr(11, 2)) * 3600.0 +
                           std::stoi(time.substr(14, 2)) * 60.0 + std::stod(time.substr(17, 6));
    const std::string hex = entry.at("hex");
    std::string spaced;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) spaced += hex.substr(i, 2) + " ";
    out.push_back({seconds, entry.at("source"), oxlo::testing::Hex(spaced)});
  }
  return out;
}

// The logged datagrams with this command code.
inline std::vector<Logged> WithCode(const std::vector<Logged>& log, std::uint8_t code) {
  std::vector<Logged> out;
  for (const Logged& d : log) {
    if (d.data.size() > 1 && d.data[1] == code) out.push_back(d);
  }
  return out;
}

}  // namespace oxlo::ui::lab
