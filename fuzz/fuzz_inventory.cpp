// Arbitrary text as a fleet's YAML inventory. Reading never crashes and
// fails only with InventoryError, whatever the aliases, nesting and keys:
// the shape check bounds the work before any node is built, so what it
// takes stays within the stated number of values.
#include <cstdint>
#include <string>

#include "cli/inventory.h"
#include "fuzz/fuzz_support.h"

namespace oxlo::fuzz {
namespace {

std::size_t Values(const Document& document) {
  std::size_t count = 1;
  if (document.is_structured()) {
    for (const Document& item : document) count += Values(item);
  }
  return count;
}

void CheckInventory(const std::string& yaml) {
  std::vector<cli::FleetDevice> devices;
  try {
    devices = cli::ParseInventory(yaml);
  } catch (const cli::InventoryError&) {
    return;
  }
  std::size_t values = 0;
  for (const cli::FleetDevice& device : devices) {
    OXLO_FUZZ_CHECK(!device.mac.empty());
    values += Values(device.desired);
    try {
      CheckDocumentShape(device.desired);
    } catch (const DocumentError&) {
    }
  }
  OXLO_FUZZ_CHECK(values <= cli::kMostInventoryValues + cli::kMostInventoryNodes);
}

}  // namespace
}  // namespace oxlo::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  oxlo::fuzz::CheckInventory(std::string(reinterpret_cast<const char*>(data), size));
  return 0;
}
