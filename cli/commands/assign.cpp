#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/address_checks.h"
#include "cli/arguments.h"
#include "cli/commands/shared.h"
#include "cli/commands/subcommands.h"
#include "cli/device_search.h"
#include "cli/exit_codes.h"
#include "cli/settings_exchange.h"
#include "protocol/wire/discovery.h"
#include "transport/sockets/endpoint.h"

namespace oxlo::cli {
namespace {

struct AssignOptions {
  std::string mac;
  std::string ip;
  std::string mask;
  std::string gateway;
  std::optional<std::string> name;
  bool verify = false;
  bool force = false;
  bool json = false;
  double timeout = 3.0;
};

std::optional<DeviceRecord> FindByMac(const std::vector<SeenDevice>& devices,
                                      const std::string& mac) {
  for (const SeenDevice& d : devices) {
    if (d.record.mac == mac) return d.record;
  }
  return std::nullopt;
}

void Assign(const AssignOptions& options) {
  const MacArgument mac = ParseMacArgument(options.mac);
  const std::string ip = AddressArgument("--ip", options.ip);
  const std::string mask = AddressArgument("--mask", options.mask);
  const std::string gateway = AddressArgument("--gateway", options.gateway);
  CheckTimeout(options.timeout);

  DeviceSearch search;
  search.Open();
  // The answers tell the device's name and who holds which address; a
  // forced assignment with a name needs neither.
  std::vector<SeenDevice> found;
  if (!options.force || !options.name) {
    search.Broadcast();
    found = search.Collect(Milliseconds(options.timeout));
  }

  // The message always carries a name: keep the device's own unless told.
  std::string name;
  if (options.name) {
    name = *options.name;
  } else {
    const auto device = FindByMac(found, mac.text);
    if (!device) {
      throw DeviceError(mac.text + " did not answer; give --name to assign without its answer");
    }
    // A name that is no UTF-8 text goes back as the bytes it was.
    name = device->unreadableName.empty() ? device->name : device->unreadableName;
  }
  // What the doctor would call a problem is not sent: an address no device
  // can be reached at, a broken mask or gateway, an address already held.
  if (!options.force) {
    const std::string problems =
        AddressProblemText({ip, mask, gateway}, mac.text, found, transport::HostInterfaces());
    if (!problems.empty()) {
      throw AddressRefused("refused: " + problems + "; give --force to assign it anyway");
    }
  }

  const std::vector<std::string> local = transport::LocalAddresses();
  if (local.empty()) throw Failure("no network interface with an IPv4 address to send from");
  transport::EveryInterface interfaces(local);
  interfaces.SendOnEveryInterface(BuildAddressAssignment(mac.text, ip, mask, gateway, name),
                                  kDevicePort);
  // With --json, one document once the message went: what was sent and
  // whether the device was seen to take it (null when not checked).
  Document result;
  if (options.json) {
    result["mac"] = mac.text;
    result["sent"] = {{"ip", ip}, {"mask", mask}, {"gateway", gateway}, {"name", name}};
    result["verified"] = nullptr;
  } else {
    std::cout << "Sent " << ip << " / " << mask << " via " << gateway << " to " << mac.text << "\n";
  }
  if (!options.verify) {
    if (options.json) PrintJson(std::cout, result);
    return;
  }
  search.Forget();
  search.Broadcast();
  const auto device = FindByMac(search.Collect(Milliseconds(options.timeout)), mac.text);
  std::string failure;
  if (!device) {
    failure = mac.text + " did not answer after the assignment";
  } else if (device->ip != ip || device->mask != mask || device->gateway != gateway) {
    failure = mac.text + " still reports " + device->ip + " / " + device->mask + " via " +
              device->gateway;
  }
  if (options.json) {
    result["verified"] = failure.empty();
    if (!failure.empty()) result["reason"] = failure;
    PrintJson(std::cout, result);
  }
  if (!failure.empty()) throw DeviceError(failure);
  if (!options.json) std::cout << "Verified: " << mac.text << " answers at " << device->ip << "\n";
}

}  // namespace

void AddAssign(CLI::App& parent) {
  const auto options = std::make_shared<AssignOptions>();
  CLI::App* a =
      parent.add_subcommand("assign", "Give a device a new address, mask, gateway and name");
  a->add_option("mac", options->mac, "MAC address of the device, like 00-1A-2B-3C-4D-5E")
      ->required();
  a->add_option("--ip", options->ip, "New IPv4 address")->required();
  a->add_option("--mask", options->mask, "New subnet mask")->required();
  a->add_option("--gateway", options->gateway, "New gateway")->required();
  a->add_option("--name", options->name, "New device name (default: keep the device's name)");
  a->add_flag("--verify", options->verify, "Search again and check the device took the address");
  a->add_flag("--json", options->json,
              "Print what was sent (and with --verify whether the device took it) as JSON");
  a->add_flag("--force", options->force,
              "Assign even what the doctor calls a problem: an address this computer or "
              "another device holds, no usable address, a broken mask or gateway");
  a->add_option("--timeout", options->timeout, "Seconds to wait for answers (default 3)");
  a->callback([options] { Assign(*options); });
}

}  // namespace oxlo::cli
