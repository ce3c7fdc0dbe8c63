// Where the windows get their endpoints from: the sockets of this machine,
// or an in-process double in tests.
#pragma once

#include <memory>
#include <vector>

#include "protocol/network/host_network.h"
#include "transport/sockets/endpoint.h"

namespace oxlo::ui {

class Network {
 public:
  virtual ~Network() = default;
  // Port 2057 on every local address, not yet open.
  virtual std::unique_ptr<transport::DatagramEndpoint> MakeDeviceEndpoint() = 0;
  // One broadcasting endpoint per local IPv4 address, as they are now.
  virtual std::unique_ptr<transport::InterfaceBroadcaster> MakeEveryInterface() = 0;
  // This computer's IPv4 interfaces, as they are now.
  virtual std::vector<HostInterface> HostInterfaces() = 0;
  // Whether each address is in use on the link of its interface, as the
  // doctor probes; waits for the answers. A network that cannot probe says
  // "not probed" with its reason.
  virtual std::vector<ProbeFinding> ProbeAddresses(const std::vector<ProbeRequest>& requests);
};

class SystemNetwork final : public Network {
 public:
  std::unique_ptr<transport::DatagramEndpoint> MakeDeviceEndpoint() override;
  std::unique_ptr<transport::InterfaceBroadcaster> MakeEveryInterface() override;
  std::vector<HostInterface> HostInterfaces() override;
  std::vector<ProbeFinding> ProbeAddresses(const std::vector<ProbeRequest>& requests) override;
};

}  // namespace oxlo::ui
