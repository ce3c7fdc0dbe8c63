// What `oxlo` returns to the shell; scripts test these, so they never change.
// A subcommand fails by throwing: UsageError (cli/arguments.h) and
// InventoryError (cli/inventory.h) end with kExitUsage, every other
// exception with kExitFailure, each with its message on stderr as
// "oxlo: ..." (Commands::Run).
#pragma once

#include <exception>
#include <stdexcept>

namespace oxlo::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // the reason is on stderr
inline constexpr int kExitUsage = 2;    // bad usage or arguments

// A failure at run time that is neither the operator's nor the device's
// doing, like a computer with no address to send from.
class Failure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Thrown once a subcommand has printed its results and named each failure
// on stderr itself (a fleet's devices, one line each): kExitFailure, with
// nothing more to say.
class FailuresShown : public std::exception {
 public:
  const char* what() const noexcept override { return "failures shown"; }
};

}  // namespace oxlo::cli
