// The addresses the commands refuse to send without --force: those the
// doctor would call a problem, judged by the doctor's own rules.
#pragma once

#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/settings_exchange.h"
#include "protocol/network/diagnosis.h"
#include "protocol/settings/settings_document.h"

namespace oxlo::cli {

// An address refused before anything is sent; a failure (exit 1), as a
// value the configuration window refuses is.
class AddressRefused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Every problem of giving device `mac` the setting, joined with "; ", or
// empty when it has none. `devices`: those that answered a search, whose
// addresses count as taken.
std::string AddressProblemText(const AddressSetting& setting, const std::string& mac,
                               const std::vector<SeenDevice>& devices,
                               const std::vector<HostInterface>& interfaces);

// Throws AddressRefused naming each problem and the way round it.
void RefuseProblemAddress(const AddressSetting& setting, const std::string& mac,
                          const std::vector<SeenDevice>& devices,
                          const std::vector<HostInterface>& interfaces);

// The address setting of network settings, as texts.
AddressSetting AddressSettingOf(const NetworkSettings& network);

// For config set and apply, and each device of a fleet: when the address,
// mask or gateway a device is to get differ from what it holds (and it
// keeps a static address), refuses them where they are a problem.
// `devices` gives the devices that hold addresses; it is asked only then.
SettingsVet AddressVet(const std::string& mac, std::function<std::vector<SeenDevice>()> devices);

// What an inventory gives one device: its MAC and the network section of its
// desired settings (an empty object when it gives none).
struct PlannedNetwork {
  std::string mac;
  Document network;
};

// Refuses the addresses of a fleet's plan before anything is written: each
// address given to two devices (or given to one and kept by another), and,
// judged with what the search found for what the plan leaves out, each
// problem the doctor would find, this computer's addresses and those of
// `discovered` devices outside the plan counting as taken. Throws
// AddressRefused naming the device and the problem.
void CheckPlannedAddresses(const std::vector<PlannedNetwork>& planned,
                           const std::vector<SeenDevice>& discovered,
                           const std::vector<HostInterface>& interfaces);

}  // namespace oxlo::cli
