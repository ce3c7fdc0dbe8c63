// The record of every datagram the simulator receives: one JSON object per
// line, flushed at once so a test can read it while the simulator runs.
//   {"time":"2024-05-01T12:00:00.123Z","source":"10.57.0.1","port":2057,"hex":"026703"}
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "protocol/wire/bytes.h"

namespace oxlo::sim {

// UTC with milliseconds.
std::string IsoTime(std::chrono::system_clock::time_point time);

std::string LogLine(std::chrono::system_clock::time_point time, const std::string& sourceAddress,
                    std::uint16_t sourcePort, ByteView datagram);

class DatagramLog {
 public:
  // Starts the file afresh. Throws std::runtime_error when it cannot be opened.
  explicit DatagramLog(const std::filesystem::path& file);

  void Record(const std::string& sourceAddress, std::uint16_t sourcePort, ByteView datagram);

 private:
  std::ofstream out_;
};

}  // namespace oxlo::sim
