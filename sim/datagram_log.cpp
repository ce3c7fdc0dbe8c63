#include "sim/datagram_log.h"

#include <ctime>
#include <nlohmann/json.hpp>

namespace oxlo::sim {

std::string IsoTime(std::chrono::system_clock::time_point time) {
  using namespace std::chrono;
  const auto sinceEpoch = time.time_since_epoch();
  const auto seconds = floor<std::chrono::seconds>(sinceEpoch);
  const auto millis = duration_cast<milliseconds>(sinceEpoch - seconds).count();
  const std::time_t whole = static_cast<std::time_t>(seconds.count());
  std::tm utc{};
  gmtime_r(&whole, &utc);
  char text[40];
  const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  std::snprintf(text + length, sizeof text - length, ".%03dZ", static_cast<int>(millis));
  return text;
}

std::string LogLine(std::chrono::system_clock::time_point time, const std::string& sourceAddress,
                    std::uint16_t sourcePort, ByteView datagram) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(datagram.size() * 2);
  for (std::uint8_t b : datagram) {
    hex.push_back(kDigits[b >> 4]);
    hex.push_back(kDigits[b & 0x0F]);
  }
  // ordered_json keeps the fields in the order a reader expects them.
  const nlohmann::ordered_json line = {
      {"time", IsoTime(time)}, {"source", sourceAddress}, {"port", sourcePort}, {"hex", hex}};
  return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

DatagramLog::DatagramLog(const std::filesystem::path& file)
    : out_(file, std::ios::out | std::ios::trunc) {
  if (!out_) throw std::runtime_error(file.string() + ": cannot be written");
}

void DatagramLog::Record(const std::string& sourceAddress, std::uint16_t sourcePort,
                         ByteView datagram) {
  out_ << LogLine(std::chrono::system_clock::now(), sourceAddress, sourcePort, datagram) << '\n';
  out_.flush();
}

}  // namespace oxlo::sim
