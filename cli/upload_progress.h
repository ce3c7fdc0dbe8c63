// Progress of a firmware upload (or of a fleet run): a bar redrawn in place
// on a terminal, or a plain line at each further tenth for logs and pipes.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

namespace oxlo::cli {

class UploadProgress {
 public:
  // Counts `unit`s; a plain line starts with `verb`.
  UploadProgress(std::ostream& out, bool terminal, std::uint64_t total, std::string unit = "bytes",
                 std::string verb = "Uploaded");

  // `acknowledged` of `total` are done (bytes taken by the device).
  void Update(std::uint64_t acknowledged);
  // Ends the bar's line, so what follows starts on a line of its own.
  void Finish();

 private:
  std::ostream& out_;
  bool terminal_;
  std::uint64_t total_;
  std::string unit_;
  std::string verb_;
  std::uint64_t last_tenth_ = 0;
  std::string bar_;  // as last drawn
};

// One line of text redrawn in place on a terminal, as a fleet run's status.
class StatusLine {
 public:
  explicit StatusLine(std::ostream& out) : out_(out) {}
  void Show(const std::string& text);
  // Ends the line, so what follows starts on a line of its own.
  void Finish();

 private:
  std::ostream& out_;
  std::string shown_;
};

}  // namespace oxlo::cli
