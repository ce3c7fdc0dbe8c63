#include "cli/upload_progress.h"

namespace oxlo::cli {
namespace {

constexpr std::size_t kBarWidth = 30;

}  // namespace

UploadProgress::UploadProgress(std::ostream& out, bool terminal, std::uint64_t total,
                               std::string unit, std::string verb)
    : out_(out),
      terminal_(terminal),
      total_(total),
      unit_(std::move(unit)),
      verb_(std::move(verb)) {}

void UploadProgress::Update(std::uint64_t acknowledged) {
  if (total_ == 0) return;
  const std::uint64_t percent = acknowledged * 100 / total_;
  const std::string counts =
      std::to_string(acknowledged) + " of " + std::to_string(total_) + " " + unit_;
  if (!terminal_) {
    if (percent / 10 <= last_tenth_) return;
    last_tenth_ = percent / 10;
    out_ << verb_ << " " << counts << " (" << percent << "%)\n" << std::flush;
    return;
  }
  const auto filled = static_cast<std::size_t>(acknowledged * kBarWidth / total_);
  std::string bar = "[" + std::string(filled, '#') + std::string(kBarWidth - filled, '-') + "] ";
  bar += std::to_string(percent) + "%  " + counts;
  if (bar == bar_) return;
  // Blanks cover the end of a longer bar drawn before.
  const std::size_t cover = bar_.size() > bar.size() ? bar_.size() - bar.size() : 0;
  out_ << '\r' << bar << std::string(cover, ' ') << std::flush;
  bar_ = std::move(bar);
}

void UploadProgress::Finish() {
  if (!bar_.empty()) out_ << '\n' << std::flush;
  bar_.clear();
}

void StatusLine::Show(const std::string& text) {
  if (text == shown_) return;
  // Blanks cover the end of a longer text shown before.
  const std::size_t cover = shown_.size() > text.size() ? shown_.size() - text.size() : 0;
  out_ << '\r' << text << std::string(cover, ' ') << std::flush;
  shown_ = text;
}

void StatusLine::Finish() {
  if (!shown_.empty()) out_ << '\n' << std::flush;
  shown_.clear();
}

}  // namespace oxlo::cli
