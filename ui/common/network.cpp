#include "ui/common/network.h"

#include "transport/sockets/address_probe.h"

namespace oxlo::ui {

std::unique_ptr<transport::DatagramEndpoint> SystemNetwork::MakeDeviceEndpoint() {
  auto endpoint =
      std::make_unique<transport::Endpoint>(std::vector<transport::Binding>{{"", kDevicePort}});
  endpoint->SetDefaultPort(kDevicePort);
  endpoint->SetSocketReceiveBuffer(transport::kBurstReceiveBuffer);
  return endpoint;
}

std::unique_ptr<transport::InterfaceBroadcaster> SystemNetwork::MakeEveryInterface() {
  return std::make_unique<transport::EveryInterface>(transport::LocalAddresses());
}

std::vector<HostInterface> SystemNetwork::HostInterfaces() {
  return transport::HostInterfaces();
}

std::vector<ProbeFinding> Network::ProbeAddresses(const std::vector<ProbeRequest>& requests) {
  return std::vector<ProbeFinding>(requests.size(),
                                   {ProbeVerdict::kNotProbed, "this network cannot probe"});
}

std::vector<ProbeFinding> SystemNetwork::ProbeAddresses(const std::vector<ProbeRequest>& requests) {
  return transport::ProbeAddresses(requests);
}

}  // namespace oxlo::ui
