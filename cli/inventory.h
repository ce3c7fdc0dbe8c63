// The YAML inventory of a fleet: desired settings by MAC, read with bounded
// work, since a few hundred bytes of YAML can name billions of nodes through
// aliases.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

#include "protocol/settings/settings_document.h"
#include "protocol/wire/bytes.h"

namespace oxlo::cli {

// A YAML inventory that cannot be used; says where and why.
class InventoryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What an inventory may ask for, counted with every alias expanded: far
// more than any plant's list, little enough to read within 64 MB.
inline constexpr std::size_t kLargestInventory = 4 << 20;    // bytes
inline constexpr std::size_t kMostInventoryNodes = 500'000;  // keys, values and lists
inline constexpr int kDeepestInventory = 32;                 // nesting levels
// Values across all devices' documents, the defaults counted in each.
inline constexpr std::size_t kMostInventoryValues = 2'000'000;

struct FleetDevice {
  std::string mac;  // as written in results: 02-00-5E-00-01-01
  MacField macBytes{};
  Document desired;  // a partial settings document
};

// Refuses, before any node is built, an inventory larger or deeper than the
// bounds above, a key written twice in one map (named with its line), a key
// that is no text, and more than one document. Throws InventoryError.
void CheckInventoryShape(const std::string& yaml);

// defaults: a partial settings document every device gets;
// devices: a list of {mac, name, ip, mask, gateway, settings}, where
// settings override the defaults and name and addresses override both.
// YAML plain scalars read as numbers and true/false where they are; quoted,
// as text. Checks the shape first. Throws InventoryError.
std::vector<FleetDevice> ParseInventory(const std::string& yaml);

}  // namespace oxlo::cli
