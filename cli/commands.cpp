#include "cli/commands.h"

#include <iostream>

#include "cli/arguments.h"
#include "cli/commands/subcommands.h"
#include "cli/exit_codes.h"
#include "cli/inventory.h"
#include "cli/output.h"

namespace oxlo::cli {

Commands::Commands(CLI::App& app) : app_(app) {
  AddDiscover(app);
  AddDoctor(app);
  AddAssign(app);

  CLI::App* config = app.add_subcommand("config", "Show or change a device's settings");
  config->require_subcommand(1);
  AddConfigGet(*config);
  AddConfigSet(*config);
  AddConfigApply(*config);

  CLI::App* fleet = app.add_subcommand("fleet", "Many devices of this network segment at once");
  fleet->require_subcommand(1);
  AddFleetApply(*fleet);
  AddFleetInventory(*fleet);
  AddFleetFirmware(*fleet);

  AddExport(app);
  AddImport(app);
  AddFirmware(app);
}

int Commands::Run(int argc, char** argv) {
  try {
    // The chosen subcommand's callback runs once the whole line is parsed.
    app_.parse(argc, argv);
    return kExitOk;
  } catch (const CLI::ParseError& error) {
    // --help and --version end here too, with CLI11's code 0.
    return app_.exit(error) == 0 ? kExitOk : kExitUsage;
  } catch (const FailuresShown&) {
    return kExitFailure;
  } catch (const UsageError& error) {
    std::cerr << "oxlo: " << ErrorText(error) << "\n";
    return kExitUsage;
  } catch (const InventoryError& error) {
    std::cerr << "oxlo: " << ErrorText(error) << "\n";
    return kExitUsage;
  } catch (const std::exception& error) {
    std::cerr << "oxlo: " << ErrorText(error) << "\n";
    return kExitFailure;
  }
}

}  // namespace oxlo::cli
