// The device list's fixed pauses: before Config opens a device, after the
// address is pinned for Web. Each lasts exactly as long as the device needs;
// the window keeps painting meanwhile, and what the operator does waits until
// it ends. Behind a seam so tests record instead.
#pragma once

namespace oxlo::ui {

class Pacer {
 public:
  virtual ~Pacer() = default;
  virtual void Pause(int milliseconds) = 0;
};

class QtPacer final : public Pacer {
 public:
  void Pause(int milliseconds) override;
};

}  // namespace oxlo::ui
