// The configuration window with the in-process network: reading a device,
// the fills of the four tabs, change tracking, Apply and its acknowledgement,
// the CAN and filter validations, and the entry from the device list.
#include "tests/support/config_window.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "protocol/wire/device_side.h"
#include "protocol/wire/fields.h"
#include "protocol/wire/text_numbers.h"
#include "tests/protocol/test_bytes.h"
#include "tests/support/operator.h"
#include "tests/ui/doubles.h"
#include "ui/configure/can_tab.h"
#include "ui/configure/config_form.h"
#include "ui/configure/filter_tab.h"
#include "ui/configure/network_tab.h"
#include "ui/configure/opmode_tab.h"
#include "ui/configure/settings_grid.h"
#include "ui/detect/device_grid.h"
#include "ui/detect/form_detect.h"

namespace oxlo::ui {
namespace {

using oxlo::testing::Hex;
using testing::Codes;
using testing::ConfigWindow;
using testing::DeviceNetwork;
using testing::DevicePort;
using testing::FakeNetwork;
using testing::kMac;
using testing::kMacText;
using testing::kOtherMac;
using testing::RecordingDesktop;
using testing::RecordingPrompter;

TEST_F(ConfigWindow, OpeningSendsElevenRequestsInKindOrder) {
  EXPECT_EQ(Child<QLabel>("MACLabel")->text(), "N/A");
  Open();
  const auto sent = network.Sent();
  ASSERT_EQ(sent.size(), 11u);
  EXPECT_EQ(Codes(sent), (std::vector<std::uint8_t>{'N', 'O', 'C', 1, 2, 3, 4, 5, 6, 7, 8}));
  for (const auto& d : sent) {
    EXPECT_EQ(d.host, "255.255.255.255");
    EXPECT_EQ(d.port, 2057);
    EXPECT_EQ(d.data.size(), 9u);
    EXPECT_EQ(Bytes(d.data.begin() + 2, d.data.begin() + 8), Bytes(kMac.begin(), kMac.end()));
  }
  EXPECT_EQ(Child<QLabel>("ProductLabel")->text(), "Oxlo CG-100");
  EXPECT_EQ(Child<QLabel>("VersionLabel")->text(), "1.0.1");
  for (int n = 1; n <= 4; ++n) EXPECT_FALSE(PanelEnabled(n)) << n;
  EXPECT_EQ(Child<QTabWidget>("ConfigTab")->currentIndex(), 0);
  EXPECT_TRUE(form.Line().IsOpen());
}

TEST_F(ConfigWindow, IgnoresOtherDevicesShortDatagramsAndItsOwnRequests) {
  Open();
  Reply(BuildNetworkReply(kOtherMac, DeviceNetwork()));
  Reply(Hex("02 67 03"));
  for (const auto& d : network.Sent()) Reply(d.data);  // our requests, come back
  Reply(Hex("02 6E 02 00 00 00"));                     // too short to carry a MAC
  EXPECT_FALSE(PanelEnabled(1));
  EXPECT_EQ(EditText("IPAddressText"), "");
  EXPECT_EQ(form.PortCount(), 0);
  Reply(BuildOpModeReply(kMac, DevicePort()));  // no port row before a network reply
  EXPECT_FALSE(PanelEnabled(2));
  EXPECT_EQ(OpGrid().rowCount(), 0);
}

TEST_F(ConfigWindow, RepliesFillEveryTabAndEnableItsPanel) {
  Open();
  ReplyAll();
  for (int n = 1; n <= 4; ++n) EXPECT_TRUE(PanelEnabled(n)) << n;
  EXPECT_EQ(EditText("DeviceNameText"), "Oxlo-1");
  EXPECT_EQ(EditText("IPAddressText"), "10.57.0.101");
  EXPECT_EQ(EditText("SubnetMaskText"), "255.255.255.0");
  EXPECT_EQ(form.PortCount(), 1);
  EXPECT_EQ(form.EchoByte(), 0x5A);
  ASSERT_EQ(OpGrid().rowCount(), 1);
  const QStringList row{
      OpGrid().Text(0, opcolumn::kNo),         OpGrid().Text(0, opcolumn::kAlias),
      OpGrid().Text(0, opcolumn::kMode),       OpGrid().Text(0, opcolumn::kLocalPort),
      OpGrid().Text(0, opcolumn::kType),       OpGrid().Text(0, opcolumn::kTargetIp),
      OpGrid().Text(0, opcolumn::kTargetPort), OpGrid().Text(0, opcolumn::kAlive)};
  EXPECT_EQ(row,
            (QStringList{"1", "CAN1", "TCP_Server", "4001", "Data", "10.57.0.9", "5000", "7"}));
  EXPECT_EQ(CanGrid().Text(0, cancolumn::kBaud), "500 kbps");
  EXPECT_EQ(CanGrid().Text(0, cancolumn::kIdFormat), "B");
  EXPECT_EQ(CanGrid().Text(0, cancolumn::kId), "00000123");
  EXPECT_EQ(form.Filters().entries[5].id, "00000005");
  EXPECT_EQ(Child<QComboBox>("FilterNumber")->currentIndex(), 0);
  EXPECT_EQ(EditText("FilterID2"), "00000001");
  EXPECT_EQ(Child<QComboBox>("FilterType2")->currentText(), "Standard");
}

TEST_F(ConfigWindow, DhcpGreysTheAddressesButShowsThem) {
  Open();
  NetworkSettings dhcp = DeviceNetwork();
  dhcp.networkType = 1;
  Reply(BuildNetworkReply(kMac, dhcp));
  EXPECT_EQ(Child<QComboBox>("NetworkTypeCombo")->currentText(), "DHCP");
  for (const char* name :
       {"IPAddressText", "SubnetMaskText", "GatewayText", "DNSText", "Label6", "Label9"}) {
    EXPECT_FALSE(Child<QWidget>(name)->isEnabled()) << name;
  }
  EXPECT_EQ(EditText("GatewayText"), "10.57.0.1");
  EXPECT_TRUE(Child<QWidget>("DeviceNameText")->isEnabled());
}

TEST_F(ConfigWindow, AnUnknownNetworkTypeShowsNoEntryAndGoesBackUnchanged) {
  Open();
  Bytes reply = BuildNetworkReply(kMac, DeviceNetwork());
  reply[8] = 5;
  Reply(reply);
  EXPECT_EQ(Child<QComboBox>("NetworkTypeCombo")->currentIndex(), -1);
  EXPECT_TRUE(Child<QWidget>("IPAddressText")->isEnabled());
  network.ClearSent();
  ClickApply();
  const auto sent = network.Sent();
  ASSERT_EQ(Codes(sent), (std::vector<std::uint8_t>{'N', 'A'}));
  EXPECT_EQ(sent[0].data.size(), 81u);
  EXPECT_EQ(sent[0].data[8], 5);
  EXPECT_EQ(sent[0].data[79], 0x5A);  // the echo byte, carried back
}

TEST_F(ConfigWindow, ASecondNetworkReplyEmptiesBothGrids) {
  Open();
  ReplyAll();
  Reply(BuildNetworkReply(kMac, DeviceNetwork()));
  ASSERT_EQ(OpGrid().rowCount(), 1);
  ASSERT_EQ(CanGrid().rowCount(), 1);
  EXPECT_EQ(OpGrid().Text(0, opcolumn::kMode), "");
  EXPECT_EQ(CanGrid().Text(0, cancolumn::kBaud), "");
}

TEST_F(ConfigWindow, ModeCodesZeroFourFiveReadAsRedirectorAndGoBackAsOne) {
  for (std::uint8_t code : {0, 4, 5}) {
    Open();
    ReplyAll();
    Bytes reply = BuildOpModeReply(kMac, DevicePort());
    reply[9] = code;
    Reply(reply);
    EXPECT_EQ(OpGrid().Text(0, opcolumn::kMode), "COM_Redirector") << int(code);
    form.SetAllChangeFlags();
    network.ClearSent();
    form.SendGroup(SettingGroup::kOperationMode);
    ASSERT_EQ(network.Sent().size(), 1u);
    EXPECT_EQ(network.Sent()[0].data[9], 1) << int(code);
    form.done(QDialog::Accepted);
  }
}

TEST_F(ConfigWindow, HiddenPortCellsCarryTheDeviceValuesBack) {
  Open();
  ReplyAll();
  PortSettings port = DevicePort();
  port.portType = kPortTypeModem;
  port.latency = 300;
  port.noDelay = true;
  Reply(BuildOpModeReply(kMac, port));
  EXPECT_TRUE(OpGrid().isColumnHidden(opcolumn::kType));
  EXPECT_EQ(OpGrid().Text(0, opcolumn::kType), "Modem");
  network.ClearSent();
  form.SendGroup(SettingGroup::kOperationMode);
  ASSERT_EQ(network.Sent().size(), 1u);
  const Bytes o = network.Sent()[0].data;
  ASSERT_EQ(o.size(), 41u);
  EXPECT_EQ(o[28], 1);
  EXPECT_EQ(o[37], 0x2C);
  EXPECT_EQ(o[38], 0x01);
  EXPECT_EQ(o[39], 1);
}

TEST_F(ConfigWindow, CanRepliesFillOnlyWhatTheirListsName) {
  Open();
  ReplyAll();
  Reply(BuildCanReply(kMac, CanSettings{3, kIdFormat11Bit, "000007FF", "00000000"}));
  EXPECT_EQ(CanGrid().Text(0, cancolumn::kBaud), "125 kbps");
  EXPECT_EQ(CanGrid().Text(0, cancolumn::kIdFormat), "A");
  EXPECT_EQ(CanGrid().Text(0, cancolumn::kId), "000007FF");

  form.SendReadRequest(ReadRequestKind::kCan);
  Reply(BuildCanReply(kMac, CanSettings{10, kIdFormat29Bit, "00000001", "00000001"}));
  EXPECT_EQ(CanGrid().Text(0, cancolumn::kBaud), "125 kbps");
  EXPECT_EQ(CanGrid().Text(0, cancolumn::kId), "000007FF");
  EXPECT_FALSE(PanelEnabled(3));
  Reply(BuildCanReply(kMac, CanSettings{9, 3, "00000001", "00000001"}));
  EXPECT_EQ(CanGrid().Text(0, cancolumn::kBaud), "1000 kbps");  // written before the format fails
  EXPECT_EQ(CanGrid().Text(0, cancolumn::kIdFormat), "A");
  EXPECT_FALSE(PanelEnabled(3));
  Reply(BuildUReply(kMac));
  EXPECT_TRUE(PanelEnabled(3));
  EXPECT_EQ(CanGrid().Text(0, cancolumn::kBaud), "1000 kbps");
}

TEST_F(ConfigWindow, FillsCountOnlyWhereAnEditsTextChanges) {
  Open();
  ReplyAll();
  EXPECT_TRUE(form.ChangeFlag(SettingGroup::kNetwork));  // the edits were empty
  EXPECT_FALSE(form.ChangeFlag(SettingGroup::kOperationMode));
  EXPECT_FALSE(form.ChangeFlag(SettingGroup::kCan));
  EXPECT_TRUE(form.ChangeFlag(SettingGroup::kFilters));  // identifiers appeared

  Open();  // the same device again: every text stays as shown
  ReplyAll();
  for (int g = 0; g < kSettingGroupCount; ++g) {
    EXPECT_FALSE(form.ChangeFlag(static_cast<SettingGroup>(g))) << g;
  }

  // The operator's edits count.
  form.show();
  OpGrid().item(0, opcolumn::kLocalPort)->setText("4002");  // as a committed cell edit stores it
  EXPECT_TRUE(form.ChangeFlag(SettingGroup::kOperationMode));
  CanGrid().item(0, cancolumn::kIdFormat)->setText("A");
  EXPECT_TRUE(form.ChangeFlag(SettingGroup::kCan));
  QTest::keyClick(Child<QLineEdit>("FilterID3"), Qt::Key_Backspace);
  EXPECT_TRUE(form.ChangeFlag(SettingGroup::kFilters));
  Child<QComboBox>("NetworkTypeCombo")->setCurrentIndex(1);  // a fill's selection: no change
  EXPECT_FALSE(form.ChangeFlag(SettingGroup::kNetwork));
  form.NetworkPage().NetworkTypeComboChange(0);
  EXPECT_TRUE(form.ChangeFlag(SettingGroup::kNetwork));
}

TEST_F(ConfigWindow, ArrowKeysSkipTheReadOnlyNumberColumn) {
  OpenAndRead();
  form.show();
  OpGrid().setCurrentCell(0, opcolumn::kAlias);
  QTest::keyClick(&OpGrid(), Qt::Key_Left);
  EXPECT_EQ(OpGrid().currentColumn(), opcolumn::kAlias);
  OpGrid().setCurrentCell(0, opcolumn::kNo);
  QTest::keyClick(&OpGrid(), Qt::Key_Right);
  EXPECT_EQ(OpGrid().currentColumn(), opcolumn::kAlias);
}

TEST_F(ConfigWindow, AddressEditsTakeOnlyAddressCharactersAndFifteenTyped) {
  auto* ip = Child<QLineEdit>("IPAddressText");
  QTest::keyClicks(ip, "a- 1.%'");
  EXPECT_EQ(ip->text(), "1.%'");
  ip->clear();
  QTest::keyClicks(ip, "1234567890123456789");
  EXPECT_EQ(ip->text().size(), 15);
  auto* name = Child<QLineEdit>("DeviceNameText");
  QTest::keyClicks(name, "a longer name than fifteen");
  EXPECT_EQ(name->text(), "a longer name t");

  Open();
  NetworkSettings n = DeviceNetwork();
  n.name = "A name of twenty-two";
  Reply(BuildNetworkReply(kMac, n));
  EXPECT_EQ(name->text(), "A name of twenty-two");  // a device's longer name is shown whole
}

TEST_F(ConfigWindow, ApplyWithOnlyNetworkChangedSendsNThenA) {
  OpenAndRead();
  Open();
  ReplyAll();
  network.ClearSent();
  Child<QLineEdit>("DeviceNameText")->setText("Renamed");
  ClickApply();
  const auto sent = network.Sent();
  ASSERT_EQ(Codes(sent), (std::vector<std::uint8_t>{'N', 'A'}));
  EXPECT_EQ(Bytes(sent[0].data.begin() + 25, sent[0].data.begin() + 33),
            (Bytes{'R', 'e', 'n', 'a', 'm', 'e', 'd', 0}));
  EXPECT_FALSE(Child<QPushButton>("FlatButton1")->isEnabled());
  EXPECT_EQ(form.AckCountdown(), 5);
  EXPECT_EQ(form.ExchangePhase(), DeviceExchange::Phase::kAwaitingAck);

  DeviceAnswers();
  EXPECT_EQ(prompter.messages, std::vector<QString>{"Configuration was successfully applied"});
  EXPECT_TRUE(Child<QPushButton>("FlatButton1")->isEnabled());
  EXPECT_NE(form.ExchangePhase(), DeviceExchange::Phase::kAwaitingAck);
  EXPECT_FALSE(form.ExchangePhase());
}

// An acknowledgement says the apply command came; only the read-back says
// what the device took. The operator's values stay for another Apply.
TEST_F(ConfigWindow, ApplySucceedsOnlyWhenTheReadBackHoldsWhatWasSent) {
  struct Case {
    const char* what;
    std::function<void(ConfigWindow&)> device;
    QString message;
  };
  const Case cases[] = {
      {"took it", [](ConfigWindow& t) { t.DeviceAnswers(); },
       "Configuration was successfully applied"},
      // It acknowledges the apply command but missed the N message.
      {"kept its old name",
       [](ConfigWindow& t) {
         t.Reply(BuildApplyAck(kMac));
         for (const Bytes& r : oxlo::testing::RepliesOf(kMac, Held())) t.Reply(r);
       },
       "The device did not take: network settings. Please apply again."},
      {"sends back only its network settings",
       [](ConfigWindow& t) {
         t.Reply(BuildApplyAck(kMac));
         NetworkSettings n = DeviceNetwork();
         n.name = "Renamed";
         t.Reply(BuildNetworkReply(kMac, n));
         EXPECT_EQ(t.form.ExchangePhase(), DeviceExchange::Phase::kReadingBack);
         t.ReadBackTime();  // its time is up
       },
       "The settings were acknowledged, but the device did not send back: operation mode, "
       "CAN settings, filter group 1, filter group 2, filter group 3, filter group 4, filter "
       "group 5, filter group 6, filter group 7, filter group 8. Please apply again."},
  };
  for (const Case& c : cases) {
    prompter.messages.clear();
    OpenAndRead();
    testing::ShowActive(form);
    auto* name = Child<QLineEdit>("DeviceNameText");
    testing::Click(name);
    testing::Key(form, Qt::Key_A, Qt::ControlModifier);
    testing::Type(form, "Renamed");
    ClickApply();
    c.device(*this);
    EXPECT_EQ(prompter.messages, std::vector<QString>{c.message}) << c.what;
    EXPECT_TRUE(Child<QPushButton>("FlatButton1")->isEnabled()) << c.what;
    EXPECT_EQ(name->text(), "Renamed") << c.what;
  }
}

TEST_F(ConfigWindow, ApplyWithNothingChangedSendsNothing) {
  Open();
  network.ClearSent();
  ClickApply();
  EXPECT_TRUE(network.Sent().empty());
  EXPECT_TRUE(Child<QPushButton>("FlatButton1")->isEnabled());
  EXPECT_NE(form.ExchangePhase(), DeviceExchange::Phase::kAwaitingAck);
}

TEST_F(ConfigWindow, AConversionErrorStopsApplyAndLetsTheOperatorRetry) {
  testing::ShowActive(form);
  OpenAndRead();
  TypeInto("GatewayText", "10.57.0");
  ClickApply();
  ASSERT_EQ(prompter.messages.size(), 1u);
  EXPECT_EQ(prompter.messages[0], "Gateway: '' is not a valid integer value");
  EXPECT_TRUE(network.Sent().empty());
  EXPECT_NE(form.ExchangePhase(), DeviceExchange::Phase::kAwaitingAck);
  EXPECT_TRUE(Child<QPushButton>("FlatButton1")->isEnabled());
}

TEST_F(ConfigWindow, AnEmptyOperationModeIsRefusedAndTheRestStillGoes) {
  OpenAndRead();
  OpGrid().item(0, opcolumn::kMode)->setText("");
  ClickApply();
  EXPECT_EQ(prompter.messages, std::vector<QString>{"Please Check Operation Mode"});
  const auto codes = Codes(network.Sent());
  EXPECT_EQ(std::count(codes.begin(), codes.end(), 'O'), 0);
  EXPECT_EQ(codes.back(), 'A');
}

TEST_F(ConfigWindow, TheAcknowledgementIsLostOnTheFifthTick) {
  form.show();
  OpenAndRead();
  ClickApply();
  for (int i = 0; i < 4; ++i) AckTick();
  EXPECT_TRUE(prompter.messages.empty());
  EXPECT_TRUE(form.isVisible());
  AckTick();
  EXPECT_EQ(prompter.messages, std::vector<QString>{"Connection Lost. Please try again."});
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(form.result(), QDialog::Accepted);
  EXPECT_FALSE(form.Line().IsOpen());
}

TEST_F(ConfigWindow, ClosingStopsTheCountdownAndGivesCancelWithoutChanges) {
  form.show();
  OpenAndRead();
  ClickApply();
  QTest::mouseClick(Child<QPushButton>("FlatButton2"), Qt::LeftButton);
  EXPECT_NE(form.ExchangePhase(), DeviceExchange::Phase::kAwaitingAck);
  EXPECT_EQ(form.result(), QDialog::Accepted);

  form.show();
  Open();
  QTest::mouseClick(Child<QPushButton>("FlatButton2"), Qt::LeftButton);
  EXPECT_EQ(form.result(), QDialog::Rejected);
  EXPECT_FALSE(form.Line().IsOpen());
}

TEST(CanTabBuild, ValidatesIdentifierThenMaskAgainstTheFormat) {
  struct Case {
    const char* format;
    const char* id;
    const char* mask;
    const char* failure;  // empty: built
  };
  const Case cases[] = {
      {"A", "7FF", "7FF", ""},
      {"A", "800", "0", "Please Check CAN ID Fomat"},
      {"A", "7FF", "FFF", "Please Check CAN ID Mask Fomat"},
      {"B", "1FFFFFFF", "0", ""},
      {"B", "20000000", "0", "Please Check CAN ID Fomat"},
      {"B", "7g1", "0", "Please Check CAN ID Fomat"},
      {"A", "", "", ""},
  };
  for (const Case& c : cases) {
    CanTab tab(nullptr);
    tab.ResetRows(1);
    tab.Grid().Fill(0, cancolumn::kBaud, "1000 kbps");
    tab.Grid().Fill(0, cancolumn::kIdFormat, c.format);
    tab.Grid().Fill(0, cancolumn::kId, c.id);
    tab.Grid().Fill(0, cancolumn::kMask, c.mask);
    const CheckedBuild build = tab.BuildForApply(kMac);
    EXPECT_EQ(build.failure, c.failure) << c.format << " " << c.id << " " << c.mask;
    if (*c.failure == '\0') {
      ASSERT_EQ(build.message.size(), 19u);
      EXPECT_EQ(build.message[8], 9);
      EXPECT_EQ(build.message[9], c.format[0] == 'A' ? 1 : 2);
    }
  }
  CanTab tab(nullptr);
  tab.ResetRows(1);
  tab.Grid().Fill(0, cancolumn::kIdFormat, "A");
  tab.Grid().Fill(0, cancolumn::kId, "7FF");
  tab.Grid().Fill(0, cancolumn::kMask, "7FF");
  const Bytes built = tab.BuildForApply(kMac).message;
  EXPECT_EQ(Bytes(built.begin() + 10, built.begin() + 18), Hex("FF 07 00 00 FF 07 00 00"));
  EXPECT_EQ(built[8], 0xFF);  // no bit rate chosen
  tab.Grid().Fill(0, cancolumn::kId, "7g1");
  EXPECT_EQ(tab.BuildForExport(kMac).size(), 19u);  // the export takes it as it is
}

TEST(FilterTabBuild, ExaminesSlotsInOrderAgainstTheCanFormat) {
  struct Case {
    int format;
    std::array<int, 4> types;
    std::array<const char*, 4> ids;
    const char* failure;
  };
  const Case cases[] = {
      {kIdFormat11Bit, {1, 2, 0, 0}, {"1", "1", "", ""}, "Please Check Filter Type and Format 2"},
      {kIdFormat29Bit, {1, 0, 0, 0}, {"800", "", "", ""}, "Please Check Filter Type and Format 1"},
      {kIdFormat29Bit, {1, 0, 0, 0}, {"7FF", "", "", ""}, ""},
      {kIdFormat29Bit, {2, 0, 0, 0}, {"1FFFFFFF", "", "", ""}, ""},
      {kIdFormat11Bit, {0, 0, 0, 0}, {"XYZ", "", "", ""}, ""},
      {kIdFormat11Bit,
       {0, 2, 1, 2},
       {"", "1", "FFF", "1"},
       "Please Check Filter Type and Format 2"},
      {kIdFormat29Bit, {-1, 1, 1, 1}, {"", "1", "2", "3"}, ""},
  };
  for (const Case& c : cases) {
    FilterTable table;
    FilterTab tab(table, nullptr);
    tab.ShowFirstGroup();
    for (int k = 0; k < 4; ++k) {
      const QString n = QString::number(k + 1);
      tab.findChild<QComboBox*>("FilterType" + n)->setCurrentIndex(c.types[k]);
      tab.findChild<QLineEdit*>("FilterID" + n)->setText(c.ids[k]);
    }
    const CheckedBuild build = tab.BuildFromSlots(kMac, 2, c.format);
    EXPECT_EQ(build.failure, c.failure) << c.ids[0] << c.ids[1];
    if (*c.failure == '\0') {
      ASSERT_EQ(build.message.size(), 29u);
      EXPECT_EQ(build.message[1], 3);
    }
  }
  FilterTable table;
  FilterTab tab(table, nullptr);
  tab.ShowFirstGroup();
  tab.findChild<QComboBox*>("FilterType1")->setCurrentIndex(-1);
  tab.findChild<QLineEdit*>("FilterID1")->setText("XYZ");
  const Bytes built = tab.BuildFromSlots(kMac, 0, kIdFormat11Bit).message;
  EXPECT_EQ(built[8], 0xFF);                                                     // no type chosen
  EXPECT_EQ(Bytes(built.begin() + 12, built.begin() + 16), Hex("00 00 00 00"));  // XYZ
}

TEST_F(ConfigWindow, GroupsShowTheTableAndDropUnsentEdits) {
  OpenAndRead();
  auto* number = Child<QComboBox>("FilterNumber");
  QTest::keyClicks(Child<QLineEdit>("FilterID1"), "X");
  form.FilterPage().FilterNumberChange(2);
  EXPECT_EQ(number->currentIndex(), 2);
  EXPECT_EQ(Child<QLabel>("lblFilterNum1")->text(), "9:");
  EXPECT_EQ(Child<QLabel>("lblFilterNum4")->text(), "12:");
  EXPECT_EQ(EditText("FilterID1"), "00000008");
  form.FilterPage().FilterNumberChange(0);
  EXPECT_EQ(EditText("FilterID1"), "00000000");  // the typed X is gone

  form.FilterPage().FilterNumberChange(2);
  std::array<FilterEntry, kSlotsPerGroup> fresh{
      {{1, "00000100"}, {1, "00000101"}, {0, ""}, {0, ""}}};
  Reply(BuildFilterGroupReply(kMac, 2, fresh));
  EXPECT_EQ(form.Filters().entries[8].id, "00000100");
  EXPECT_EQ(EditText("FilterID1"), "00000008");  // group 3 on show: the rows stay
  form.FilterPage().FilterNumberChange(4);
  fresh[0].id = "00000042";
  Reply(BuildFilterGroupReply(kMac, 0, fresh));
  EXPECT_EQ(number->currentIndex(), 0);
  EXPECT_EQ(EditText("FilterID1"), "00000042");
  EXPECT_EQ(Child<QLabel>("lblFilterNum1")->text(), "1:");
}

TEST_F(ConfigWindow, ApplySendsOnlyTheGroupOnShow) {
  OpenAndRead();
  form.FilterPage().FilterNumberChange(1);
  Child<QComboBox>("FilterType1")->setCurrentIndex(1);
  Child<QLineEdit>("FilterID1")->setText("123");
  ClickApply();
  const auto sent = network.Sent();
  ASSERT_EQ(Codes(sent), (std::vector<std::uint8_t>{'N', 2, 'A'}));
  EXPECT_EQ(sent[1].data[8], 1);
  EXPECT_EQ(Bytes(sent[1].data.begin() + 12, sent[1].data.begin() + 16), Hex("23 01 00 00"));
}

TEST_F(ConfigWindow, AFailedFilterSlotSendsAReadRequestInstead) {
  OpenAndRead();
  CanGrid().Fill(0, cancolumn::kIdFormat, "A");
  Child<QComboBox>("FilterType2")->setCurrentIndex(2);
  Child<QLineEdit>("FilterID2")->setText("1");
  ClickApply();
  EXPECT_EQ(prompter.messages, std::vector<QString>{"Please Check Filter Type and Format 2"});
  const auto sent = network.Sent();
  ASSERT_EQ(Codes(sent), (std::vector<std::uint8_t>{'N', 1, 'A'}));
  EXPECT_EQ(sent[1].data.size(), 9u);  // the read request, not a cut group message
  EXPECT_FALSE(PanelEnabled(4));
}

TEST_F(ConfigWindow, AFailedCanBuildSendsNeitherItNorTheFilterGroup) {
  OpenAndRead();
  CanGrid().item(0, cancolumn::kIdFormat)->setText("A");
  CanGrid().Fill(0, cancolumn::kId, "800");
  Child<QLineEdit>("FilterID1")->setText("1");
  ClickApply();
  EXPECT_EQ(prompter.messages, std::vector<QString>{"Please Check CAN ID Fomat"});
  const auto sent = network.Sent();
  EXPECT_EQ(Codes(sent), (std::vector<std::uint8_t>{'N', 'C', 1, 'A'}));
  for (const auto& d : sent) EXPECT_EQ(d.data.back(), 0x03);
  EXPECT_EQ(sent[1].data.size(), 9u);  // CAN read request
  EXPECT_EQ(sent[2].data.size(), 9u);  // group 1 read request
  EXPECT_FALSE(form.CanCheckFailed());
  EXPECT_FALSE(PanelEnabled(3));
  EXPECT_FALSE(PanelEnabled(4));
}

TEST_F(ConfigWindow, NoGroupOnShowSendsNoFilterMessage) {
  Open();
  Reply(BuildNetworkReply(kMac, DeviceNetwork()));
  network.ClearSent();
  form.SetAllChangeFlags();
  ClickApply();
  EXPECT_EQ(Child<QComboBox>("FilterNumber")->currentIndex(), -1);
  const auto codes = Codes(network.Sent());
  EXPECT_EQ(std::count(codes.begin(), codes.end(), 0), 0);
  EXPECT_EQ(codes.back(), 'A');
}

TEST_F(ConfigWindow, ImportedFiltersGoOutAllEightAfterYes) {
  struct Case {
    Answer answer;
    std::vector<std::uint8_t> codes;
  };
  const Case cases[] = {
      {Answer::Yes, {'N', 'O', 'C', 1, 2, 3, 4, 5, 6, 7, 8, 'A'}},
      {Answer::No, {'N', 'O', 'C', 1, 'A'}},
      {Answer::Cancel, {}},
  };
  for (const Case& c : cases) {
    OpenAndRead();
    form.SetAllChangeFlags();
    form.SetFiltersImported(true);
    prompter.messages.clear();
    prompter.answers = {c.answer};
    ClickApply();
    EXPECT_EQ(prompter.messages, std::vector<QString>{"Load all 32 filter settings?"});
    EXPECT_EQ(Codes(network.Sent()), c.codes) << static_cast<int>(c.answer);
    EXPECT_FALSE(Child<QWidget>("PanelFilterSend")->isVisibleTo(&form));
    if (c.answer == Answer::Yes) {
      EXPECT_EQ(Child<QProgressBar>("FilterSendBar")->value(), 8);
      EXPECT_EQ(Child<QLabel>("lblFilterSend")->text(), "Sending....");
      EXPECT_EQ(network.Sent()[6].data[12], 0x0C);  // group 4 from the table: filter 12
    }
    EXPECT_EQ(form.FiltersImported(), c.answer == Answer::Cancel);
    EXPECT_EQ(Child<QPushButton>("FlatButton1")->isEnabled(), c.answer == Answer::Cancel);
    form.done(QDialog::Accepted);
  }
}

TEST_F(ConfigWindow, ClosingDuringTheBulkSendStopsItWithoutTheApplyCommand) {
  form.show();
  OpenAndRead();
  form.SetAllChangeFlags();
  form.SetFiltersImported(true);
  prompter.answers = {Answer::Yes};
  bool panel_shown = false;
  QTimer::singleShot(0, &form, [&] {
    panel_shown = Child<QWidget>("PanelFilterSend")->isVisible();
    form.FlatButton2Click();
  });
  ClickApply();
  EXPECT_TRUE(panel_shown);
  EXPECT_EQ(Codes(network.Sent()), (std::vector<std::uint8_t>{'N', 'O', 'C'}));
  EXPECT_FALSE(form.Line().IsOpen());
  EXPECT_FALSE(Child<QWidget>("PanelFilterSend")->isVisibleTo(&form));
  EXPECT_NE(form.ExchangePhase(), DeviceExchange::Phase::kAwaitingAck);
}

// Settings files.
class SettingsFiles : public ConfigWindow {
 protected:
  QTemporaryDir dir;
  QString Path(const char* name) { return dir.filePath(name); }
  QString Export(const char* name) {
    prompter.files = {Path(name)};
    form.FlatButton9Click();
    return Path(name);
  }
  static QByteArray Read(const QString& path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return file.readAll();
  }
  static void Write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
  }
  // Everything the four tabs show, and the table.
  QStringList Shown() {
    QStringList shown;
    for (const char* name :
         {"DeviceNameText", "IPAddressText", "SubnetMaskText", "GatewayText", "DNSText"}) {
      shown << EditText(name);
    }
    shown << Child<QComboBox>("NetworkTypeCombo")->currentText();
    for (int c = 0; c < OpGrid().columnCount(); ++c) shown << OpGrid().Text(0, c);
    shown << (OpGrid().Checked(0, opcolumn::kNoDelay) ? "on" : "off");
    for (int c = 0; c < CanGrid().columnCount(); ++c) shown << CanGrid().Text(0, c);
    for (const FilterEntry& e : form.Filters().entries) {
      shown << QString::number(e.type) + ":" + QString::fromStdString(e.id);
    }
    return shown;
  }
};

TEST_F(SettingsFiles, ExportThenImportRestoresEveryTabAndTheTable) {
  Open();
  PortSettings port = DevicePort();
  port.portType = kPortTypeModem;
  port.latency = 300;
  port.noDelay = true;
  NetworkSettings dhcp = DeviceNetwork();
  dhcp.networkType = 1;
  ReplyAll(dhcp, port);
  const QStringList before = Shown();
  const FilterTable table = form.Filters();
  const QString path = Export("device.oxl");
  EXPECT_TRUE(prompter.messages.empty());
  EXPECT_EQ(prompter.dialogs.back().title, "Export Setting");
  EXPECT_EQ(prompter.dialogs.back().defaultName, "default.oxl");
  EXPECT_EQ(prompter.dialogs.back().defaultExtension, "oxl");
  EXPECT_EQ(prompter.dialogs.back().filters.front(), "All files (*.*)");
  ASSERT_EQ(Read(path).size(), 429);

  Open();
  ReplyAll();  // other settings on show
  ASSERT_NE(Shown(), before);
  network.ClearSent();
  form.OpenFromFile(path, "Oxlo CG-100", kMacText, "1.0.1");
  EXPECT_TRUE(network.Sent().empty());  // nothing is read from the device
  EXPECT_EQ(Shown(), before);
  EXPECT_EQ(form.Filters(), table);
  EXPECT_TRUE(form.FiltersImported());
  for (int g = 0; g < kSettingGroupCount; ++g)
    EXPECT_TRUE(form.ChangeFlag(static_cast<SettingGroup>(g)));
}

TEST_F(SettingsFiles, ImportGoesToTheSelectedDeviceNeverTheFilesMac) {
  OpenAndRead();
  const QString path = Export("a.oxl");
  form.OpenFromFile(path, "Oxlo CG-200", "02-00-00-00-00-07", "2.0.0");
  EXPECT_EQ(Child<QLabel>("MACLabel")->text(), "02-00-00-00-00-07");
  prompter.answers = {Answer::Yes};
  network.ClearSent();
  ClickApply();
  const auto sent = network.Sent();
  ASSERT_EQ(Codes(sent), (std::vector<std::uint8_t>{'N', 'O', 'C', 1, 2, 3, 4, 5, 6, 7, 8, 'A'}));
  for (const auto& d : sent) EXPECT_EQ(d.data[7], 0x07);
}

TEST_F(SettingsFiles, FilesOfEveryLengthFromTheTypesOnImport) {
  OpenAndRead();
  const QByteArray whole = Read(Export("whole.oxl"));
  struct Case {
    int length;
    int wholeIds;  // identifiers that come back whole
  };
  for (const Case c : {Case{173, 0}, Case{429, 32}, Case{500, 32}}) {
    QByteArray bytes = whole.left(c.length);
    if (c.length > whole.size()) bytes += QByteArray(c.length - whole.size(), 'x');
    Write(Path("cut.oxl"), bytes);
    form.OpenFromFile(Path("cut.oxl"), "Oxlo CG-100", kMacText, "1.0.1");
    for (int k = 0; k < kFilterCount; ++k) {
      EXPECT_EQ(form.Filters().entries[k].id.size(), k < c.wholeIds ? 8u : 0u)
          << c.length << " " << k;
      EXPECT_EQ(form.Filters().entries[k].type, (k % 4) % 3);
    }
  }
}

TEST_F(SettingsFiles, AFailedExportLeavesTheFileAsItWas) {
  testing::ShowActive(form);
  OpenAndRead();
  Write(Path("kept.oxl"), "an earlier export");
  TypeInto("GatewayText", "10.57.0");
  prompter.files = {Path("kept.oxl")};
  testing::Click(Child<QPushButton>("FlatButton9"));
  EXPECT_EQ(prompter.messages, std::vector<QString>{"Gateway: '' is not a valid integer value"});
  EXPECT_EQ(Read(Path("kept.oxl")), "an earlier export");
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"kept.oxl"});  // no leftovers
}

// Entry from the device list.
class ConfigFromList : public ConfigWindow {
 protected:
  testing::RecordingPacer pacer;
  TFormDetect detect{prompter, desktop, pacer, network};
  void SetUp() override {
    detect.SetConfigForm(&form);
    detect.FlatButton2Click();
    Reply(testing::DiscoveryReply("Oxlo CG-100", kMacText, "1.0.1", "Oxlo-1", "10.57.0.101"));
    ASSERT_EQ(detect.DeviceCount(), 1);
    for (int i = 0; i < 10; ++i) detect.TimerFINDTimer();
    network.ClearSent();
  }
  // The operator's part in the modal window: maybe a change, then Cancel.
  void CloseConfigWith(bool change) {
    detect.SetDialogRunner([this, change](QDialog& dialog) {
      EXPECT_EQ(&dialog, &form);
      dialog.show();
      ReplyAll();
      network.ClearSent();
      if (change) form.findChild<QLineEdit*>("DeviceNameText")->setText("Changed");
      form.FlatButton2Click();
      return dialog.result();
    });
  }
};

TEST_F(ConfigFromList, ConfigWithoutChangesLeavesTheListAndTheEndpointClosed) {
  Open();  // an earlier opening of the same device: its replies change no text
  ReplyAll();
  form.done(QDialog::Rejected);
  network.ClearSent();
  pacer.pauses.clear();
  CloseConfigWith(false);
  detect.FlatButton8Click();
  EXPECT_EQ(pacer.pauses.front(), 100);
  EXPECT_EQ(Child<QLabel>("MACLabel")->text(), kMacText);
  EXPECT_TRUE(network.Sent().empty());
  EXPECT_FALSE(detect.UDPServer().IsActive());
  EXPECT_EQ(detect.DeviceCount(), 1);
}

TEST_F(ConfigFromList, ConfigWithAChangeSearchesAgain) {
  CloseConfigWith(true);
  detect.FlatButton8Click();
  const auto sent = network.Sent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].data, Hex("02 67 03"));
  EXPECT_EQ(detect.DeviceCount(), 0);
  EXPECT_TRUE(detect.UDPServer().IsActive());
}

TEST_F(ConfigFromList, ADoubleClickOpensWithoutModalityAndHoldsThePort) {
  detect.RGridDblClick();
  EXPECT_TRUE(form.isVisible());
  EXPECT_TRUE(form.Line().IsOpen());
  detect.FlatButton2Click();
  EXPECT_EQ(prompter.messages,
            std::vector<QString>{"Could not bind socket. Address and port are already in use."});
  form.FlatButton2Click();
  prompter.messages.clear();
  detect.FlatButton2Click();
  EXPECT_TRUE(prompter.messages.empty());
}

TEST_F(ConfigFromList, ImportOpensTheWindowAndSearchesAfterItEvenOnCancel) {
  QTemporaryDir dir;
  form.OpenForDevice("Oxlo CG-100", kMacText, "1.0.1");
  ReplyAll();
  prompter.files = {dir.filePath("a.oxl")};
  form.FlatButton9Click();
  form.done(QDialog::Rejected);
  network.ClearSent();

  bool shown = false;
  detect.SetDialogRunner([&](QDialog& dialog) {
    shown = true;
    dialog.show();
    form.FlatButton2Click();
    return dialog.result();
  });
  prompter.files = {dir.filePath("a.oxl")};
  detect.FlatButton10Click();
  EXPECT_TRUE(shown);
  EXPECT_EQ(prompter.dialogs.back().title, "Import Setting");
  ASSERT_EQ(network.Sent().size(), 1u);  // the new search's query only
  EXPECT_EQ(network.Sent()[0].data, Hex("02 67 03"));
  EXPECT_FALSE(form.FiltersImported());

  // A file too short for the filter types: a message and no window.
  Reply(testing::DiscoveryReply("Oxlo CG-100", kMacText, "1.0.1", "Oxlo-1", "10.57.0.101"));
  for (int i = 0; i < 10; ++i) detect.TimerFINDTimer();
  QFile shortFile(dir.filePath("short.oxl"));
  ASSERT_TRUE(shortFile.open(QIODevice::WriteOnly));
  shortFile.write(QByteArray(172, 0x02));
  shortFile.close();
  shown = false;
  prompter.messages.clear();
  prompter.files = {dir.filePath("short.oxl")};
  detect.FlatButton10Click();
  EXPECT_FALSE(shown);
  EXPECT_EQ(
      prompter.messages,
      std::vector<QString>{"The settings file is too short: 172 bytes, at least 173 are needed."});
  EXPECT_FALSE(form.FiltersImported());
  EXPECT_FALSE(detect.UDPServer().IsActive());
}

TEST_F(ConfigFromList, ConfigWithAnEmptyListDoesNothing) {
  detect.ClearList();
  detect.FlatButton8Click();
  detect.RGridDblClick();
  EXPECT_TRUE(network.Sent().empty());
  EXPECT_FALSE(form.isVisible());
}

}  // namespace
}  // namespace oxlo::ui
