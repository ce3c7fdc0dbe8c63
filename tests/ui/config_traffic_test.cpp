// What the configuration window sends when it opens a device and when Apply
// writes a typed name or an imported file, against a simulated device that
// answers at once: every datagram whole, in order, and the least time since
// the one before, as recorded from the window with the device's real pauses.
// OXLO_RECORD_TRAFFIC=1 prints the table anew.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

#include "protocol/settings/settings_file.h"
#include "protocol/wire/fields.h"
#include "sim/simulator.h"
#include "tests/support/operator.h"
#include "tests/ui/config_traffic_table.h"
#include "tests/ui/doubles.h"
#include "ui/configure/config_form.h"

namespace oxlo::ui {
namespace {

using testing::RecordingPrompter;
using testing::SentDatagram;

const char kMacText[] = "02-00-00-00-00-01";

std::string Hex(const Bytes& bytes) {
  std::string text;
  char digits[3];
  for (std::uint8_t b : bytes) {
    std::snprintf(digits, sizeof digits, "%02X", b);
    text += digits;
  }
  return text;
}

class ConfigTraffic : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::SimulatorOptions options;
    options.replyMode = sim::ReplyMode::kUnicast;
    device_.emplace(std::vector<sim::DeviceState>{sim::GeneratedDevice(1)}, options);
    network.SetResponder([this](const SentDatagram& d) -> std::optional<Bytes> {
      const std::vector<sim::Outgoing> out = device_->Handle(d.data, "10.57.0.1", 50000);
      if (out.empty()) return std::nullopt;
      return out.front().data;
    });
    testing::ShowActive(form);
  }

  bool WaitFor(const std::function<bool()>& done) {
    QDeadlineTimer deadline(30000);
    while (!done() && !deadline.hasExpired()) {
      QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return done();
  }
  bool AllPanelsEnabled() {
    for (const char* name : {"tabPanel1", "tabPanel2", "tabPanel3", "tabPanel4"}) {
      if (!form.findChild<QWidget*>(name)->isEnabled()) return false;
    }
    return true;
  }
  bool Applied() {
    return !prompter.messages.empty() &&
           prompter.messages.back() == "Configuration was successfully applied";
  }
  void ClickApply() { testing::Click(form.findChild<QPushButton*>("FlatButton1")); }

  // Compares with the table, or prints it.
  void Expect(const char* name, const std::vector<RecordedSend>& table) {
    const std::vector<SentDatagram> sent = network.Sent();
    if (std::getenv("OXLO_RECORD_TRAFFIC") != nullptr) {
      std::printf("inline const std::vector<RecordedSend> %s{\n", name);
      for (std::size_t i = 0; i < sent.size(); ++i) {
        const long gap =
            i == 0 ? 0
                   : static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           sent[i].at - sent[i - 1].at)
                                           .count());
        std::printf("    {\"%s\", %ld},\n", Hex(sent[i].data).c_str(), gap / 10 * 10);
      }
      std::printf("};\n");
      return;
    }
    ASSERT_EQ(sent.size(), table.size());
    for (std::size_t i = 0; i < sent.size(); ++i) {
      EXPECT_EQ(Hex(sent[i].data), table[i].hex) << name << " datagram " << i;
      EXPECT_EQ(sent[i].host, "255.255.255.255") << name << " datagram " << i;
      if (i == 0) continue;
      // A timer may fire a millisecond early; never more.
      const auto gap = sent[i].at - sent[i - 1].at;
      EXPECT_GE(gap, std::chrono::milliseconds(table[i].leastGapMs) - std::chrono::milliseconds(2))
          << name << " datagram " << i;
    }
  }

  std::optional<sim::Simulator> device_;
  RecordingPrompter prompter;
  testing::FakeNetwork network;
  TConfigForm form{prompter, network};
};

TEST_F(ConfigTraffic, OpeningAndApplyOfATypedName) {
  form.OpenForDevice("Oxlo CG-100", kMacText, "1.0.1");
  ASSERT_TRUE(WaitFor([&] { return AllPanelsEnabled(); }));
  QLineEdit* name = form.findChild<QLineEdit*>("DeviceNameText");
  testing::Click(name);
  testing::Key(form, Qt::Key_A, Qt::ControlModifier);
  testing::Type(form, "Renamed");
  ClickApply();
  ASSERT_TRUE(WaitFor([&] { return Applied(); })) << prompter.messages.size();
  Expect("kOpeningAndApplyOfAName", kOpeningAndApplyOfAName);
}

TEST_F(ConfigTraffic, ApplyOfAnImportedFileWithAllFilters) {
  DeviceSettings settings;
  const sim::DeviceState state = sim::GeneratedDevice(1);
  settings.network = state.network;
  settings.network.name = "Imported";
  settings.port = state.port;
  settings.can = state.can;
  settings.filters = state.filters;
  settings.filters.entries[5].id = "00000ABC";
  QTemporaryDir dir;
  const QString path = dir.filePath("device.oxl");
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  const Bytes bytes = BuildSettingsFile(MacToBytes(kMacText), settings);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
  file.close();
  form.OpenFromFile(path, "Oxlo CG-100", kMacText, "1.0.1");
  prompter.answers = {Answer::Yes};
  ClickApply();
  ASSERT_TRUE(WaitFor([&] { return Applied(); })) << prompter.messages.size();
  Expect("kApplyOfAnImportedFile", kApplyOfAnImportedFile);
}

}  // namespace
}  // namespace oxlo::ui
