#include "cli/commands.h"

#include <algorithm>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/commands/subcommands.h"
#include "cli/exit_codes.h"
#include "cli/inventory.h"
#include "cli/output.h"

namespace oxlo::cli {
namespace {

// Edits between two words, a swap of neighbours counting one, for "did you mean".
std::size_t Distance(const std::string& a, const std::string& b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min(
          {d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

std::string PathOf(const CLI::App& app) {
  const CLI::App* parent = app.get_parent();
  return parent == nullptr ? "oxlo" : PathOf(*parent) + " " + app.get_name();
}

// The subcommand of `app` that `word` names. A word that names none is bad
// usage, said with the command it was given to and the likeliest one meant.
CLI::App* Subcommand(CLI::App& app, const std::string& word) {
  std::optional<std::string> closest;
  std::size_t best = 0;
  for (CLI::App* sub : app.get_subcommands({})) {
    if (sub->get_name() == word) return sub;
    const std::size_t d = Distance(word, sub->get_name());
    const bool likely = d <= std::max<std::size_t>(1, sub->get_name().size() / 3) ||
                        (word.size() >= 2 && sub->get_name().rfind(word, 0) == 0);
    if (likely && (!closest || d < best)) {
      closest = sub->get_name();
      best = d;
    }
  }
  std::string text = "'" + word + "' is not a command of " + PathOf(app);
  if (closest) text += "; did you mean '" + *closest + "'?";
  throw UsageError(text + " ('" + PathOf(app) + " --help' lists them)");
}

}  // namespace

Commands::Commands(CLI::App& app) : app_(app) {
  // The usage line names the program, not the path it was started by.
  app.name("oxlo");
  app.failure_message([](const CLI::App*, const CLI::Error& error) {
    return "oxlo: " + std::string(error.what()) + "\nRun 'oxlo help' for more information.\n";
  });

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
  // `help` is read before parsing (Run) and not listed among the commands,
  // so every listed command is one that --help describes.
  app.footer("oxlo help COMMAND... prints the help of a command, as COMMAND... --help does.");
}

int Commands::Run(int argc, char** argv) {
  try {
    const std::vector<std::string> words(argv + std::min(argc, 1), argv + argc);
    // `oxlo help [COMMAND...]` prints what --help of that command prints.
    if (!words.empty() && words.front() == "help") {
      CLI::App* at = &app_;
      for (std::size_t i = 1; i < words.size() && words[i].rfind('-', 0) != 0; ++i) {
        at = Subcommand(*at, words[i]);
      }
      const CLI::App* parent = at->get_parent();
      std::cout << (parent == nullptr ? at->help() : at->help(PathOf(*parent)));
      return kExitOk;
    }
    // A word where a command belongs must name one.
    CLI::App* at = &app_;
    for (const std::string& word : words) {
      if (word.empty() || word.front() == '-' || at->get_subcommands({}).empty()) break;
      at = Subcommand(*at, word);
    }
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
