// The configuration window over the real transport against the simulator:
// reading a device, editing every tab at the operator's hands (clicks, and
// keys typed into whatever has the focus), Apply with its acknowledgement,
// and the bytes the simulator received.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>

#include "tests/support/operator.h"
#include "tests/ui/doubles.h"
#include "tests/ui/lab_support.h"
#include "ui/configure/can_tab.h"
#include "ui/configure/config_form.h"
#include "ui/configure/opmode_tab.h"
#include "ui/configure/settings_grid.h"

namespace oxlo::ui {
namespace {

using lab::Env;
using lab::Logged;
using lab::WaitFor;
using oxlo::testing::Hex;

const char kMacText[] = "02-00-00-00-00-01";

class ConfigLab : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Env("OXLO_TEST_DEV_LOG").empty()) GTEST_SKIP() << "runs inside the network lab (tests/lab)";
    testing::ShowActive(form);
  }
  testing::RecordingPrompter prompter;
  SystemNetwork network;
  TConfigForm form{prompter, network};

  bool AllPanelsEnabled() {
    for (const char* name : {"tabPanel1", "tabPanel2", "tabPanel3", "tabPanel4"}) {
      if (!form.findChild<QWidget*>(name)->isEnabled()) return false;
    }
    return true;
  }
  QString Edit(const char* name) { return form.findChild<QLineEdit*>(name)->text(); }
  // How long the read took: the requests go paced, the window stays free.
  qint64 OpenAndRead() {
    QElapsedTimer clock;
    clock.start();
    form.OpenForDevice("Oxlo CG-100", kMacText, "1.0.1");
    // Every part read: the filter tab opens with the first group already.
    EXPECT_TRUE(WaitFor([&] { return AllPanelsEnabled() && !form.ExchangePhase(); }));
    return clock.elapsed();
  }
};

TEST_F(ConfigLab, EditsOfEveryTabReachTheDeviceAndReadBack) {
  // The last filter group is asked 160 ms after the first request.
  EXPECT_GE(OpenAndRead(), 160);
  EXPECT_EQ(Edit("DeviceNameText"), "Oxlo-1");
  EXPECT_EQ(Edit("IPAddressText"), "10.57.0.101");
  SettingsGrid& op = form.OpModePage().Grid();
  SettingsGrid& can = form.CanPage().Grid();
  EXPECT_EQ(op.Text(0, opcolumn::kMode), "TCP_Server");
  EXPECT_FALSE(can.Text(0, cancolumn::kBaud).isEmpty());

  const std::vector<Logged> requests = [] {
    std::vector<Logged> out;
    for (const Logged& d : lab::ReadLog(Env("OXLO_TEST_DEV_LOG"))) {
      if (d.data.size() == 9 && d.data[1] != 'A') out.push_back(d);
    }
    return out;
  }();
  ASSERT_EQ(requests.size(), 11u);
  std::vector<std::uint8_t> codes;
  for (const Logged& d : requests) codes.push_back(d.data[1]);
  EXPECT_EQ(codes, (std::vector<std::uint8_t>{'N', 'O', 'C', 1, 2, 3, 4, 5, 6, 7, 8}));
  // Pauses of 10, 10, 0 and seven of 20 ms lie between the first and the last.
  EXPECT_GE(requests.back().seconds - requests.front().seconds, 0.159);

  using testing::Click;
  using testing::Key;
  using testing::Type;
  QTabWidget& tabs = *form.findChild<QTabWidget*>("ConfigTab");
  Click(form.findChild<QLineEdit*>("DeviceNameText"));
  Key(form, Qt::Key_A, Qt::ControlModifier);
  Type(form, "Lab bench");
  testing::ClickTab(tabs, 1);
  testing::ClickCell(op, 0, opcolumn::kLocalPort);
  Key(form, Qt::Key_A, Qt::ControlModifier);
  Type(form, "4100");  // no Enter: Apply stores it
  testing::ClickTab(tabs, 2);
  testing::ClickCell(can, 0, cancolumn::kBaud);
  Type(form, "250");  // the list's entry that starts so
  testing::ClickTab(tabs, 3);
  Click(form.findChild<QComboBox*>("FilterType1"));
  Type(form, "S");
  Key(form, Qt::Key_Return);
  Click(form.findChild<QLineEdit*>("FilterID1"));
  Key(form, Qt::Key_A, Qt::ControlModifier);
  Type(form, "123");
  Click(form.findChild<QPushButton*>("FlatButton1"));
  ASSERT_TRUE(WaitFor([&] { return !prompter.messages.empty(); }, 6000));
  EXPECT_EQ(prompter.messages, std::vector<QString>{"Configuration was successfully applied"});

  // The writes, without the read-back's 9-byte requests that followed them.
  std::vector<Logged> log = lab::ReadLog(Env("OXLO_TEST_DEV_LOG"));
  std::erase_if(log, [](const Logged& d) { return d.data.size() == 9 && d.data[1] != 'A'; });
  const auto n = lab::WithCode(log, 'N'), o = lab::WithCode(log, 'O'), c = lab::WithCode(log, 'C'),
             g1 = lab::WithCode(log, 0x01), a = lab::WithCode(log, 'A');
  ASSERT_EQ(n.back().data.size(), 81u);
  EXPECT_EQ(Bytes(n.back().data.begin() + 25, n.back().data.begin() + 35),
            (Bytes{'L', 'a', 'b', ' ', 'b', 'e', 'n', 'c', 'h', 0}));
  ASSERT_EQ(o.back().data.size(), 41u);
  EXPECT_EQ(Bytes(o.back().data.begin() + 10, o.back().data.begin() + 12), Hex("04 10"));
  ASSERT_EQ(c.back().data.size(), 19u);
  EXPECT_EQ(c.back().data[8], 5);
  ASSERT_EQ(g1.back().data.size(), 29u);
  EXPECT_EQ(g1.back().data[8], 1);
  EXPECT_EQ(Bytes(g1.back().data.begin() + 12, g1.back().data.begin() + 16), Hex("23 01 00 00"));
  ASSERT_EQ(a.size(), 1u);
  EXPECT_LT(g1.back().seconds, a.back().seconds + 0.0005);
  form.done(QDialog::Accepted);

  form.show();
  OpenAndRead();
  EXPECT_EQ(Edit("DeviceNameText"), "Lab bench");
  EXPECT_EQ(op.Text(0, opcolumn::kLocalPort), "4100");
  EXPECT_EQ(can.Text(0, cancolumn::kBaud), "250 kbps");
  EXPECT_EQ(Edit("FilterID1"), "00000123");
  form.done(QDialog::Rejected);
}

}  // namespace
}  // namespace oxlo::ui
