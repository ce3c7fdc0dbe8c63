// The MAC addresses the last discovery listed, kept for the shell's
// completion of commands that take a MAC.
#pragma once

#include <filesystem>
#include <optional>
#include <vector>

#include "protocol/network/diagnosis.h"

namespace oxlo::cli {

// $XDG_CACHE_HOME/oxlo/devices, or ~/.cache/oxlo/devices; nothing when
// neither variable is set.
std::optional<std::filesystem::path> DeviceCachePath();

// Replaces the file with one MAC a line, written under a fresh unguessable
// name (never following a link) and renamed. Only into an oxlo folder this
// user owns and nobody else may write in; otherwise nothing is written. Best
// effort: a discovery never fails for want of a cache, so every error is
// ignored.
void RememberDevices(const std::vector<SeenDevice>& devices);

}  // namespace oxlo::cli
