// The one place that turns what a subcommand threw into the exit code and
// the "oxlo: ..." line.
#include "cli/commands.h"

#include <gtest/gtest.h>

#include <functional>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/exit_codes.h"
#include "cli/inventory.h"
#include "cli/settings_exchange.h"

namespace oxlo::cli {
namespace {

struct Ran {
  int code;
  std::string err;
};

// Runs `oxlo <args>` with one more subcommand, "try", whose callback does `body`.
Ran RunWith(const std::function<void()>& body, std::vector<std::string> args = {"try"}) {
  CLI::App app{"oxlo"};
  app.require_subcommand(1);
  Commands commands(app);
  app.add_subcommand("try", "throws")->callback(body);
  args.insert(args.begin(), "oxlo");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  std::ostringstream err, out;
  std::streambuf* oldErr = std::cerr.rdbuf(err.rdbuf());
  std::streambuf* oldOut = std::cout.rdbuf(out.rdbuf());
  const int code = commands.Run(static_cast<int>(argv.size()), argv.data());
  std::cerr.rdbuf(oldErr);
  std::cout.rdbuf(oldOut);
  return {code, err.str()};
}

TEST(Commands, MapWhatASubcommandThrewToItsExitCodeAndOneLine) {
  struct Case {
    const char* what;
    std::function<void()> body;
    int code;
    std::string err;
  };
  const std::vector<Case> cases = {
      {"success", [] {}, kExitOk, ""},
      {"usage", [] { throw UsageError("--timeout must be 0.001 to 3600 seconds"); }, kExitUsage,
       "oxlo: --timeout must be 0.001 to 3600 seconds\n"},
      {"inventory", [] { throw InventoryError("f.yaml: line 3: bad"); }, kExitUsage,
       "oxlo: f.yaml: line 3: bad\n"},
      {"device", [] { throw DeviceError("02-00-00-00-00-01 did not answer"); }, kExitFailure,
       "oxlo: 02-00-00-00-00-01 did not answer\n"},
      {"failure", [] { throw Failure("no network interface"); }, kExitFailure,
       "oxlo: no network interface\n"},
      // Said already, after the results: nothing more.
      {"shown", [] { throw FailuresShown(); }, kExitFailure, ""},
      // A socket's CR LF and a device's escape sequence stay on one harmless line.
      {"any other", [] { throw std::runtime_error("Socket Error # 101\r\nname \x1b]0;x\x07"); },
       kExitFailure, "oxlo: Socket Error # 101  name \\x1b]0;x\\x07\n"},
  };
  for (const Case& c : cases) {
    const Ran ran = RunWith(c.body);
    EXPECT_EQ(ran.code, c.code) << c.what;
    EXPECT_EQ(ran.err, c.err) << c.what;
  }
}

TEST(Commands, BadUsageEndsBeforeAnyCallbackRuns) {
  bool ran = false;
  const auto body = [&ran] { ran = true; };
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"try", "extra"}, std::vector<std::string>{"frobnicate"},
        std::vector<std::string>{}}) {
    EXPECT_EQ(RunWith(body, args).code, kExitUsage) << args.size();
  }
  EXPECT_FALSE(ran);
  EXPECT_EQ(RunWith(body, {"try", "--help"}).code, kExitOk);
  EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace oxlo::cli
