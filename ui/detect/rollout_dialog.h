// New firmware for several listed devices at once: the operator checks the
// devices, names the image and the version it brings, and the rollout runs
// one fleet of uploads over the window's endpoints, canaries first, a row's
// bar and verdict for each device.
#pragma once

#include <QDialog>
#include <functional>
#include <memory>
#include <vector>

#include "protocol/conversation/firmware_rollout.h"
#include "protocol/wire/discovery.h"
#include "transport/devices/firmware_fleet.h"
#include "transport/sockets/endpoint.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTableWidget;
class QTimer;

namespace oxlo::ui {

class Prompter;

namespace rollout_column {
inline constexpr int kModel = 0;  // with the row's check box
inline constexpr int kMac = 1;
inline constexpr int kName = 2;
inline constexpr int kVersion = 3;
inline constexpr int kProgress = 4;
inline constexpr int kResult = 5;
inline constexpr int kReason = 6;
inline constexpr int kCount = 7;
}  // namespace rollout_column

class RolloutDialog final : public QDialog {
  Q_OBJECT

 public:
  struct Hooks {
    // Hands the datagrams the window's receiving endpoint takes to `fleet`
    // on the receiving thread; none stops that and returns once no handing
    // over runs. Throws when the endpoint cannot be opened.
    std::function<void(transport::FirmwareFleet* fleet)> route;
    // A rollout started or ended: the window's own actions wait meanwhile.
    std::function<void(bool running)> running;
  };

  RolloutDialog(Prompter& prompter, transport::InterfaceBroadcaster& out,
                std::vector<DeviceRecord> devices, transport::FirmwareFleetSettings settings,
                Hooks hooks, QWidget* parent = nullptr);
  // Stops a rollout still running: uploads end where they are.
  ~RolloutDialog() override;

  bool Running() const { return fleet_ != nullptr; }
  // The last rollout, or none before the first Start.
  const Rollout* LastRollout() const { return rollout_.get(); }

  // Asks first while a rollout runs.
  void reject() override;

 private:
  void Browse();
  void Start();
  void StopRollout();
  void StepFleet();
  void ShowEntries();
  void Finish();
  void SetControlsForRun(bool running);
  void ShowMessage(const QString& text);

  Prompter& prompter_;
  transport::InterfaceBroadcaster& out_;
  std::vector<DeviceRecord> devices_;
  transport::FirmwareFleetSettings settings_;
  Hooks hooks_;

  QTableWidget* table_;
  QLineEdit* image_;
  QPushButton* browse_;
  QLineEdit* version_;
  QSpinBox* canary_;
  QSpinBox* parallel_;
  QLabel* status_;
  QPushButton* start_;
  QPushButton* stop_;
  QPushButton* close_;
  QTimer* step_timer_;

  // The rollout's entry of each table row, -1 for unchecked rows.
  std::vector<int> entry_of_row_;
  std::unique_ptr<Rollout> rollout_;
  // Refers to `rollout_`: made after it and gone before it.
  std::unique_ptr<transport::FirmwareFleet> fleet_;
  bool close_when_over_ = false;
  bool step_failed_ = false;
};

}  // namespace oxlo::ui
