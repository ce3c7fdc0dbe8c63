// Progress of a firmware upload: a bar redrawn in place on a terminal, or
// a plain line at each further tenth of the image for logs and pipes.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

namespace oxlo::cli {

class UploadProgress {
 public:
  UploadProgress(std::ostream& out, bool terminal, std::uint64_t total);

  // `acknowledged` bytes of `total` have been taken by the device.
  void Update(std::uint64_t acknowledged);
  // Ends the bar's line, so what follows starts on a line of its own.
  void Finish();

 private:
  std::ostream& out_;
  bool terminal_;
  std::uint64_t total_;
  std::uint64_t last_tenth_ = 0;
  std::string bar_;  // as last drawn
};

}  // namespace oxlo::cli
