// The configuration window at the operator's hands: every value is clicked
// into and typed, an open cell editor included, and every button clicked;
// the bytes the device double received are checked.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <string>

#include "protocol/settings/settings_file.h"
#include "tests/protocol/test_bytes.h"
#include "tests/support/config_window.h"
#include "tests/support/operator.h"

namespace oxlo::ui {
namespace {

using oxlo::testing::Hex;
using testing::Click;
using testing::ClickCell;
using testing::ClickTab;
using testing::Codes;
using testing::Key;
using testing::kMac;
using testing::SentDatagram;
using testing::Type;

class ConfigOperator : public testing::ConfigWindow {
 public:
  // Read twice, so no text changes and no group counts as changed.
  void OpenUnchanged() {
    testing::ShowActive(form);
    Open();
    ReplyAll();
    Open();
    ReplyAll();
    network.ClearSent();
    prompter.messages.clear();
  }
  QTabWidget& Tabs() { return *Child<QTabWidget>("ConfigTab"); }
  // Clicks a cell, which opens its editor, and replaces the text by typing.
  void TypeIntoCell(SettingsGrid& grid, int column, const QString& text) {
    ClickCell(grid, 0, column);
    Key(form, Qt::Key_A, Qt::ControlModifier);
    Type(form, text);
  }
  static Bytes Field(const SentDatagram& d, std::size_t offset, std::size_t length) {
    return Bytes(d.data.begin() + static_cast<std::ptrdiff_t>(offset),
                 d.data.begin() + static_cast<std::ptrdiff_t>(offset + length));
  }
};

TEST_F(ConfigOperator, WhatIsTypedOnEachTabIsWhatApplySends) {
  struct Case {
    const char* what;
    std::function<void(ConfigOperator&)> act;  // ends with an edit still open where it can
    std::vector<std::uint8_t> codes;
    std::size_t offset;  // in the first message
    Bytes expected;
  };
  const Case cases[] = {
      {"device name",
       [](ConfigOperator& t) { t.TypeInto("DeviceNameText", "Bench 7"); },
       {'N', 'A'},
       25,
       Bytes{'B', 'e', 'n', 'c', 'h', ' ', '7', 0}},
      {"local port, no Enter",
       [](ConfigOperator& t) {
         ClickTab(t.Tabs(), 1);
         t.TypeIntoCell(t.OpGrid(), opcolumn::kLocalPort, "4000");
       },
       {'O', 'A'},
       10,
       Hex("A0 0F")},
      {"target address, no Enter",
       [](ConfigOperator& t) {
         ClickTab(t.Tabs(), 1);
         t.TypeIntoCell(t.OpGrid(), opcolumn::kTargetIp, "10.57.0.44");
       },
       {'O', 'A'},
       29,
       Hex("0A 39 00 2C")},
      {"operation mode picked with the keyboard",
       [](ConfigOperator& t) {
         ClickTab(t.Tabs(), 1);
         ClickCell(t.OpGrid(), 0, opcolumn::kMode);
         Key(t.form, Qt::Key_Down);  // TCP_Server to TCP_Client
       },
       {'O', 'A'},
       9,
       Bytes{3}},
      {"CAN identifier, no Enter",
       [](ConfigOperator& t) {
         ClickTab(t.Tabs(), 2);
         t.TypeIntoCell(t.CanGrid(), cancolumn::kId, "1ABCDE");
       },
       {'C', 'A'},
       10,
       Hex("DE BC 1A 00")},
      {"filter identifier and type",
       [](ConfigOperator& t) {
         ClickTab(t.Tabs(), 3);
         t.TypeInto("FilterID1", "7F");
         Click(t.Child<QComboBox>("FilterType1"));  // opens its list
         Key(t.form, Qt::Key_Down);                 // Disable to Standard
         Key(t.form, Qt::Key_Return);
       },
       {1, 'A'},
       8,
       Hex("01 01 02 00 7F 00 00 00")},
      {"local port typed, then another tab",
       [](ConfigOperator& t) {
         ClickTab(t.Tabs(), 1);
         t.TypeIntoCell(t.OpGrid(), opcolumn::kLocalPort, "4000");
         ClickTab(t.Tabs(), 0);
         EXPECT_FALSE(t.OpGrid().Editing());
         EXPECT_TRUE(t.form.ChangeFlag(SettingGroup::kOperationMode));
       },
       {'O', 'A'},
       10,
       Hex("A0 0F")},
  };
  for (const Case& c : cases) {
    OpenUnchanged();
    c.act(*this);
    ClickApply();
    const auto sent = network.Sent();
    ASSERT_EQ(Codes(sent), c.codes) << c.what;
    EXPECT_EQ(Field(sent[0], c.offset, c.expected.size()), c.expected) << c.what;
    EXPECT_TRUE(prompter.messages.empty()) << c.what;
    DeviceAnswers();
    EXPECT_EQ(prompter.messages, std::vector<QString>{"Configuration was successfully applied"})
        << c.what;
    form.done(QDialog::Accepted);
  }
}

TEST_F(ConfigOperator, AValueItsFieldCannotHoldIsNamedAndNothingIsSent) {
  struct Case {
    const char* what;
    std::function<void(ConfigOperator&)> act;
    const char* message;
  };
  const Case cases[] = {
      {"local port, still in its editor",
       [](ConfigOperator& t) {
         ClickTab(t.Tabs(), 1);
         t.TypeIntoCell(t.OpGrid(), opcolumn::kLocalPort, "99999");
       },
       "Local Port: 99999 is out of range (0 to 65535)."},
      {"target port, confirmed with Enter",
       [](ConfigOperator& t) {
         ClickTab(t.Tabs(), 1);
         t.TypeIntoCell(t.OpGrid(), opcolumn::kTargetPort, "70000");
         Key(t.form, Qt::Key_Return);
       },
       "Target Port: 70000 is out of range (0 to 65535)."},
      {"alive after a changed name: the name does not go either",
       [](ConfigOperator& t) {
         t.TypeInto("DeviceNameText", "Renamed");
         ClickTab(t.Tabs(), 1);
         t.TypeIntoCell(t.OpGrid(), opcolumn::kAlive, "65536");
       },
       "Alive: 65536 is out of range (0 to 65535)."},
      {"a part of the address above 255",
       [](ConfigOperator& t) { t.TypeInto("GatewayText", "10.57.0.256"); },
       "Gateway: 256 is out of range (0 to 255)."},
      {"a part of the target address above 255",
       [](ConfigOperator& t) {
         ClickTab(t.Tabs(), 1);
         t.TypeIntoCell(t.OpGrid(), opcolumn::kTargetIp, "300.1.1.1");
       },
       "Target IP Addr.: 300 is out of range (0 to 255)."},
      // No number at all: the field is named as for one out of range.
      {"local port emptied",
       [](ConfigOperator& t) {
         ClickTab(t.Tabs(), 1);
         t.TypeIntoCell(t.OpGrid(), opcolumn::kLocalPort, "");
         Key(t.form, Qt::Key_Delete);
       },
       "Local Port: '' is not a valid integer value"},
      {"a target address of three parts",
       [](ConfigOperator& t) {
         ClickTab(t.Tabs(), 1);
         t.TypeIntoCell(t.OpGrid(), opcolumn::kTargetIp, "1.2.3");
       },
       "Target IP Addr.: '' is not a valid integer value"},
      {"gateway emptied",
       [](ConfigOperator& t) {
         t.TypeInto("GatewayText", "");
         Key(t.form, Qt::Key_Delete);
       },
       "Gateway: '' is not a valid integer value"},
  };
  for (const Case& c : cases) {
    OpenUnchanged();
    c.act(*this);
    ClickApply();
    EXPECT_EQ(prompter.messages, std::vector<QString>{c.message}) << c.what;
    EXPECT_TRUE(network.Sent().empty()) << c.what;
    EXPECT_TRUE(Child<QPushButton>("FlatButton1")->isEnabled()) << c.what;
    EXPECT_NE(form.ExchangePhase(), DeviceExchange::Phase::kAwaitingAck) << c.what;
    form.done(QDialog::Accepted);
  }
}

TEST_F(ConfigOperator, ExportWritesTheCellStillBeingEdited) {
  QTemporaryDir dir;
  OpenUnchanged();
  ClickTab(Tabs(), 1);
  TypeIntoCell(OpGrid(), opcolumn::kLocalPort, "4000");
  prompter.files = {dir.filePath("typed.oxl")};
  Click(Child<QPushButton>("FlatButton9"));
  QFile file(dir.filePath("typed.oxl"));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray content = file.readAll();
  ASSERT_EQ(content.size(), 429);
  EXPECT_EQ(static_cast<std::uint8_t>(content[81 + 10]), 0xA0);
  EXPECT_EQ(static_cast<std::uint8_t>(content[81 + 11]), 0x0F);
  EXPECT_TRUE(network.Sent().empty());

  // A value the file cannot hold leaves no file.
  TypeIntoCell(OpGrid(), opcolumn::kLocalPort, "70000");
  prompter.files = {dir.filePath("refused.oxl")};
  Click(Child<QPushButton>("FlatButton9"));
  EXPECT_EQ(prompter.messages,
            std::vector<QString>{"Local Port: 70000 is out of range (0 to 65535)."});
  EXPECT_FALSE(QFile::exists(dir.filePath("refused.oxl")));
}

// Export right after a successful Apply writes what the read-back found:
// the filter typed on its tab and sent, not the table read at the opening.
TEST_F(ConfigOperator, ExportAfterApplyWritesWhatTheDeviceNowHolds) {
  QTemporaryDir dir;
  OpenUnchanged();
  ClickTab(Tabs(), 3);
  TypeInto("FilterID1", "7F");
  ClickApply();
  DeviceAnswers();
  ASSERT_EQ(prompter.messages, std::vector<QString>{"Configuration was successfully applied"});
  prompter.files = {dir.filePath("after.oxl")};
  Click(Child<QPushButton>("FlatButton9"));
  QFile file(dir.filePath("after.oxl"));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray content = file.readAll();
  const DeviceSettings exported =
      ParseSettingsFile(ByteView(reinterpret_cast<const std::uint8_t*>(content.constData()),
                                 static_cast<std::size_t>(content.size())));
  // The file writes each identifier in eight digits.
  const FilterTable before = Held().filters;
  for (std::size_t k = 0; k < before.entries.size(); ++k) {
    const unsigned long want = k == 0 ? 0x7F : std::stoul(before.entries[k].id, nullptr, 16);
    EXPECT_EQ(std::stoul(exported.filters.entries[k].id, nullptr, 16), want) << k;
    EXPECT_EQ(exported.filters.entries[k].type, before.entries[k].type) << k;
  }
}

TEST_F(ConfigOperator, CancelDropsTheOpenEditAndSendsNothing) {
  OpenUnchanged();
  ClickTab(Tabs(), 1);
  TypeIntoCell(OpGrid(), opcolumn::kLocalPort, "4000");
  Click(Child<QPushButton>("FlatButton2"));
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(form.result(), QDialog::Rejected);
  EXPECT_TRUE(network.Sent().empty());
  EXPECT_FALSE(OpGrid().Editing());
  EXPECT_EQ(OpGrid().Text(0, opcolumn::kLocalPort), "4001");

  // Opened again, nothing of the dropped edit comes back.
  OpenUnchanged();
  TypeInto("DeviceNameText", "Renamed");
  ClickApply();
  EXPECT_EQ(Codes(network.Sent()), (std::vector<std::uint8_t>{'N', 'A'}));
}

}  // namespace
}  // namespace oxlo::ui
