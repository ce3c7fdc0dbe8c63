// What `oxlo` returns to the shell; scripts test these, so they never change.
#pragma once

namespace oxlo::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // the reason is on stderr
inline constexpr int kExitUsage = 2;    // bad usage or arguments

}  // namespace oxlo::cli
