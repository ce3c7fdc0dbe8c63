#include "ui/common/network.h"

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

}  // namespace oxlo::ui
