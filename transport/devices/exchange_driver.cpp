#include "transport/devices/exchange_driver.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

#include "protocol/wire/frame.h"
#include "protocol/wire/settings_messages.h"

namespace oxlo::transport {
namespace {

using Clock = DeviceExchange::Clock;

// The replies of every device in flight, in arrival order, for the stepping
// thread; filled by the line's receiving thread.
class Inbox {
 public:
  // Beyond this the oldest go: a flood must not grow without end.
  static constexpr std::size_t kMaxReplies = 16384;

  void Push(std::size_t device, Bytes reply) {
    {
      std::lock_guard lock(mutex_);
      if (replies_.size() >= kMaxReplies) replies_.pop_front();
      replies_.push_back({device, std::move(reply)});
    }
    arrived_.notify_one();
  }
  std::deque<std::pair<std::size_t, Bytes>> TakeAll() {
    std::lock_guard lock(mutex_);
    return std::exchange(replies_, {});
  }
  // Drops what `device` sent before now: with `code` only, when given.
  void Forget(std::size_t device, std::optional<std::uint8_t> code) {
    std::lock_guard lock(mutex_);
    std::erase_if(replies_, [&](const std::pair<std::size_t, Bytes>& r) {
      return r.first == device && (!code || r.second[kCodeOffset] == *code);
    });
  }
  void WaitUntil(Clock::time_point wake) {
    std::unique_lock lock(mutex_);
    arrived_.wait_until(lock, wake, [this] { return !replies_.empty(); });
  }

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<std::pair<std::size_t, Bytes>> replies_;
};

struct InFlight {
  std::size_t index;
  DeviceExchange exchange;
  std::unique_ptr<DeviceSession> session;
};

}  // namespace

void RunExchanges(DeviceLine& line, std::size_t count, int parallel,
                  const std::function<DeviceExchange(std::size_t)>& start,
                  const std::function<void(std::size_t, FinishedExchange)>& finish) {
  const std::vector<std::uint8_t> codes = ExchangeReplyCodes();
  const std::size_t most = static_cast<std::size_t>(std::max(parallel, 1));
  Inbox inbox;
  std::unordered_map<std::size_t, std::unique_ptr<InFlight>> flying;
  Clock::time_point lastDiscovery{};
  std::size_t next = 0;
  while (next < count || !flying.empty()) {
    while (flying.size() < most && next < count) {
      const std::size_t i = next++;
      auto flight = std::make_unique<InFlight>(InFlight{i, start(i), nullptr});
      flight->session = std::make_unique<DeviceSession>(line, flight->exchange.Mac(), codes);
      flight->session->SetReplySink([&inbox, i](const Datagram& d) { inbox.Push(i, d.data); });
      flight->session->Open();
      flight->exchange.Start(Clock::now());
      flying.emplace(i, std::move(flight));
    }
    for (auto& [device, reply] : inbox.TakeAll()) {
      const auto it = flying.find(device);
      if (it != flying.end()) it->second->exchange.OnDatagram(reply, Clock::now());
    }
    // Asleep at most a second, so a wake time far off never overflows the wait.
    Clock::time_point wake = Clock::now() + std::chrono::seconds(1);
    bool room = false;
    for (auto it = flying.begin(); it != flying.end();) {
      InFlight& flight = *it->second;
      const Clock::time_point now = Clock::now();
      while (std::optional<Outgoing> out = flight.exchange.Poll(now)) {
        if (out->forget != Outgoing::Forget::kNothing) {
          inbox.Forget(flight.index, out->forget == Outgoing::Forget::kCode
                                         ? std::optional<std::uint8_t>(out->forgetCode)
                                         : std::nullopt);
        }
        if (out->discoverySince) {
          if (lastDiscovery >= *out->discoverySince) continue;
          lastDiscovery = now;
        }
        line.Broadcast(out->message);
      }
      if (flight.exchange.Done()) {
        flight.session->Close();
        finish(flight.index, {flight.exchange, flight.session->OversizeReplyArrived()});
        it = flying.erase(it);
        room = true;
        continue;
      }
      wake = std::min(wake, flight.exchange.WakeAt());
      ++it;
    }
    if (!flying.empty() && !(room && next < count)) inbox.WaitUntil(wake);
  }
}

bool RunExchange(DeviceExchange& exchange, DeviceLine* line) {
  std::unique_ptr<DeviceLine> own;
  if (line == nullptr) {
    own = std::make_unique<DeviceLine>();
    own->Open();
    line = own.get();
  }
  bool oversize = false;
  RunExchanges(
      *line, 1, 1, [&](std::size_t) { return std::move(exchange); },
      [&](std::size_t, FinishedExchange done) {
        exchange = std::move(done.exchange);
        oversize = done.oversizeReply;
      });
  return oversize;
}

}  // namespace oxlo::transport
