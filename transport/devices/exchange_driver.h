// Steps settings conversations with many devices from the calling thread,
// over one line: no thread per device, no sleeping between sends.
#pragma once

#include <cstddef>
#include <functional>

#include "protocol/conversation/device_exchange.h"
#include "transport/devices/device_line.h"

namespace oxlo::transport {

// How one conversation ended, for its owner.
struct FinishedExchange {
  DeviceExchange& exchange;
  // A reply larger than the endpoint takes came from the device: it never
  // reached the exchange.
  bool oversizeReply = false;
};

// Runs `count` exchanges over `line` (open), at most `parallel` at once, in
// index order: `start(i)` makes the i-th (not yet started), `finish(i, ...)`
// takes it once it is done. Every device answers every discovery query, so a
// query one conversation sent serves the others that need one since.
void RunExchanges(DeviceLine& line, std::size_t count, int parallel,
                  const std::function<DeviceExchange(std::size_t)>& start,
                  const std::function<void(std::size_t, FinishedExchange)>& finish);

// One exchange over `line`, or over a line of its own (port 2057) when null.
// Throws SocketError when the port is held.
bool RunExchange(DeviceExchange& exchange, DeviceLine* line);

}  // namespace oxlo::transport
