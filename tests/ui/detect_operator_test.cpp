// The device list at the operator's hands: rows are clicked, values typed
// into whatever has the focus (the cell editor a key opens included) and the
// buttons clicked; the bytes the network double received are checked.
#include <gtest/gtest.h>

#include <QFile>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTemporaryDir>
#include <cstdio>

#include "protocol/conversation/firmware_upload.h"
#include "protocol/conversation/settings_write.h"
#include "protocol/settings/settings_file.h"
#include "protocol/wire/device_side.h"
#include "protocol/wire/discovery.h"
#include "protocol/wire/fields.h"
#include "protocol/wire/frame.h"
#include "tests/protocol/test_bytes.h"
#include "tests/support/detect_window.h"
#include "tests/support/operator.h"
#include "tests/support/sample_settings.h"
#include "tests/ui/doubles.h"
#include "ui/common/prompter.h"
#include "ui/configure/config_form.h"
#include "ui/detect/device_grid.h"
#include "ui/detect/form_detect.h"

namespace oxlo::ui {
namespace {

using oxlo::testing::Hex;
using testing::Click;
using testing::ClickCell;
using testing::DiscoveryReply;
using testing::SentDatagram;
using testing::Type;

const auto& kMacs = testing::kListedMacs;

class DetectOperator : public testing::DetectWindow {
 public:
  bool Highlighted(int row) { return Grid().selectionModel()->isRowSelected(row, QModelIndex()); }
  // The MAC field of every datagram sent, as text.
  std::vector<std::string> MacsSent() {
    std::vector<std::string> macs;
    for (const SentDatagram& d : network.Sent()) {
      if (d.data.size() >= 8) macs.push_back(MacToText(MacOf(d.data).value_or(MacField{})));
    }
    return macs;
  }
  QString File(const char* name, const Bytes& bytes) {
    QFile file(dir.filePath(name));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    return file.fileName();
  }
};

TEST_F(DetectOperator, ApplySendsTheAddressStillBeingTypedAsTheValuesItReads) {
  struct Case {
    const char* typed;
    Bytes address;
  };
  // The second time the row is already highlighted when it is clicked: the
  // typing must still land in it, not in a row found by its first digit.
  const Case cases[] = {
      {"010.57.0.078", Hex("0A 39 00 4E")},  // zero-padded parts read as decimal
      {"10.57.0.77", Hex("0A 39 00 4D")},
  };
  for (const Case& c : cases) {
    Search(2);
    ClickCell(Grid(), 1, column::kIp);
    Type(window, c.typed);  // no Enter
    Click(Button("FlatButton1"));
    const auto sent = network.Sent();
    ASSERT_EQ(sent.size(), 3u) << c.typed;  // the query, then the message from both local addresses
    EXPECT_EQ(sent[1].data.size(), 57u);
    EXPECT_EQ(MacOf(sent[1].data), MacToBytes(kMacs[1]));
    EXPECT_EQ(Bytes(sent[1].data.begin() + 8, sent[1].data.begin() + 12), c.address) << c.typed;
    EXPECT_EQ(prompter.messages,
              std::vector<QString>{"Configuration of 1 device(s) was/were successful."});
    prompter.messages.clear();
  }
}

// A name with bidirectional controls shows them as marks, and an address
// applied to its row sends the name back exactly as the device sent it.
TEST_F(DetectOperator, BidiControlsInANameShowAsMarksAndGoBackUnchanged) {
  const std::string name = "invoice\xE2\x80\xAEgnp.exe\xE2\x81\xA6";
  Click(Button("FlatButton2"));
  Reply(DiscoveryReply("Oxlo CG-100", kMacs[0], "1.0.1", name, "10.57.0.101"));
  for (int i = 0; i < 10; ++i) window.TimerFINDTimer();
  network.ClearSent();
  const QTableWidgetItem* cell = Grid().item(0, column::kName);
  ASSERT_NE(cell, nullptr);
  const auto* delegate = static_cast<QStyledItemDelegate*>(Grid().itemDelegate());
  EXPECT_EQ(delegate->displayText(cell->data(Qt::DisplayRole), QLocale()),
            "invoice\\u202Egnp.exe\\u2066");
  EXPECT_EQ(Grid().Text(0, column::kName).toStdString(), name);

  ClickCell(Grid(), 0, column::kIp);
  Type(window, "10.57.0.77");
  Click(Button("FlatButton1"));
  const auto sent = network.Sent();
  ASSERT_GE(sent.size(), 2u);
  ASSERT_EQ(sent[1].data.size(), 57u);
  std::string field(sent[1].data.begin() + 24, sent[1].data.begin() + 56);
  EXPECT_EQ(field, name + std::string(32 - name.size(), '\0'));
}

TEST_F(DetectOperator, WebUsesTheRowAsShownAndWarnsOfAnAddressNotApplied) {
  Search(2);
  ClickCell(Grid(), 1, column::kIp);
  Type(window, "010.57.0.77");  // no Enter
  Click(Button("FlatButton4"));
  EXPECT_EQ(desktop.commands,
            (std::vector<QStringList>{{"arp", "-s", "10.57.0.77", "02:00:00:00:00:02"}}));
  EXPECT_EQ(prompter.messages,
            std::vector<QString>{
                "New IP address was not applied. Previous IP address is still configured."});
  EXPECT_EQ(desktop.urls, std::vector<QString>{"http://10.57.0.102"});
  EXPECT_TRUE(Grid().Modified(1));
  EXPECT_TRUE(network.Sent().empty());
}

TEST_F(DetectOperator, TheMarkerTellsWhyADeviceCannotBeReachedAndWebAsksFirst) {
  network.SetHostInterfaces({{"eth0", 0x0A39000A, 24}, {"eth1", 0xC0A8070A, 24}});
  Click(Button("FlatButton2"));
  const auto reply = [&](int n, const std::string& ip, const std::string& interfaceName) {
    const std::string gateway = ip.substr(0, ip.rfind('.')) + ".1";
    network.Deliver(
        DiscoveryReply("Oxlo CG-100", kMacs[n], "1.0.1", "Oxlo", ip, "255.255.255.0", gateway),
        "10.57.0.2", interfaceName);
  };
  reply(0, "10.57.0.101", "eth0");
  reply(1, "192.168.1.50", "eth0");  // a factory address from elsewhere
  reply(2, "10.57.0.103", "eth0");
  reply(2, "10.57.0.103", "eth1");  // the same device through the second adapter
  // The marks come once the burst of replies is over.
  const auto marked = [&] {
    return Grid().verticalHeaderItem(1) != nullptr &&
           !Grid().verticalHeaderItem(1)->toolTip().isEmpty();
  };
  for (int i = 0; i < 100 && !marked(); ++i) QTest::qWait(10);
  for (int i = 0; i < 10; ++i) window.TimerFINDTimer();

  const auto image = [&](const QIcon& icon) { return icon.pixmap(16, 16).toImage(); };
  const auto standard = [&](QStyle::StandardPixmap which) {
    return image(Grid().style()->standardIcon(which));
  };
  const auto header = [&](int row) { return Grid().verticalHeaderItem(row); };
  EXPECT_NE(image(header(0)->icon()), standard(QStyle::SP_MessageBoxWarning));
  EXPECT_EQ(header(0)->toolTip(), "");
  EXPECT_EQ(image(header(1)->icon()), standard(QStyle::SP_MessageBoxWarning));
  const QString why =
      "192.168.1.50 is outside eth0's subnet 10.57.0.0/24: this computer cannot reach its web "
      "page or address it directly: give it 10.57.0.2 with mask 255.255.255.0 and no gateway";
  EXPECT_EQ(header(1)->toolTip(), why);
  for (const int c : {column::kModel, column::kIp, column::kGateway}) {
    EXPECT_EQ(Grid().item(1, c)->toolTip(), why) << c;
  }
  EXPECT_EQ(image(header(2)->icon()), standard(QStyle::SP_MessageBoxInformation));
  EXPECT_EQ(header(2)->toolTip(),
            "its replies came in on eth0 and eth1: those networks are bridged or looped");

  // Web on the unreachable device says why and which address would work;
  // "No" opens nothing, "Yes" goes on as before.
  ClickCell(Grid(), 1, column::kModel);
  prompter.answers = {Answer::No, Answer::Yes};
  Click(Button("FlatButton4"));
  ASSERT_EQ(prompter.messages.size(), 1u);
  EXPECT_EQ(prompter.messages[0],
            "192.168.1.50 is outside eth0's subnet 10.57.0.0/24: this computer cannot reach its "
            "web page or address it directly.\r\nTo reach it, give it 10.57.0.2 with mask "
            "255.255.255.0 and no gateway.\r\n\r\nOpen its web page anyway?");
  // A yes/no question: no Cancel beside No.
  EXPECT_EQ(prompter.choices, std::vector<QString>{"Yes/No"});
  EXPECT_TRUE(desktop.commands.empty());
  EXPECT_TRUE(desktop.urls.empty());
  Click(Button("FlatButton4"));
  EXPECT_EQ(prompter.messages.size(), 2u);
  EXPECT_EQ(desktop.urls, std::vector<QString>{"http://192.168.1.50"});
  // A reachable device opens without a question.
  ClickCell(Grid(), 0, column::kModel);
  Click(Button("FlatButton4"));
  EXPECT_EQ(prompter.messages.size(), 2u);
  EXPECT_EQ(desktop.urls, (std::vector<QString>{"http://192.168.1.50", "http://10.57.0.101"}));
}

// The window advises as `oxlo doctor` does, through the same function: a
// candidate a host on the link holds (found by the probe, as an unprivileged
// doctor finds it in the neighbour table) is passed over in the marker's
// tooltip and in Web's question alike; Web asks first for a duplicate
// address too, and never opens this computer's own address.
// Every suggestion taken: the doctor would probe round after round, the
// window only one batch per look, so a crowded segment never holds it long.
TEST_F(DetectOperator, ManyTroubledDevicesHoldTheWindowForOneBatchOfProbes) {
  network.SetHostInterfaces({{"eth0", 0x0A390001, 24}});
  network.SetProber([](const ProbeRequest&) {
    return ProbeFinding{ProbeVerdict::kInUse, "a scripted probe"};
  });
  Click(Button("FlatButton2"));
  for (int n = 0; n < 100; ++n) {
    char mac[18];
    std::snprintf(mac, sizeof mac, "02-00-00-00-01-%02X", n);
    network.Deliver(
        DiscoveryReply("Oxlo CG-100", mac, "1.0.1", "Oxlo", "192.168.1." + std::to_string(n + 1),
                       "255.255.255.0", "0.0.0.0"),
        "10.57.0.2", "eth0");
  }
  // The inbox hands a burst over in slices, with the event loop between.
  ASSERT_TRUE(QTest::qWaitFor([&] { return Grid().rowCount() == 100; }, 30000));
  for (int i = 0; i < 10; ++i) window.TimerFINDTimer();
  ASSERT_TRUE(QTest::qWaitFor([&] { return network.probe_batches > 0; }, 30000));
  QTest::qWait(300);  // the marks' timer has run
  EXPECT_EQ(network.probe_batches, 1);

  // Web on one of them probes one batch more, and asks first.
  ClickCell(Grid(), 0, column::kModel);
  prompter.answers = {Answer::No};
  Click(Button("FlatButton4"));
  EXPECT_EQ(network.probe_batches, 2);
  EXPECT_EQ(prompter.messages.size(), 1u);
  EXPECT_TRUE(desktop.urls.empty());
}

TEST_F(DetectOperator, TheWindowSuggestsWhatTheDoctorSuggestsWithATakenCandidate) {
  network.SetHostInterfaces({{"eth0", 0x0A390001, 24}, {"eth1", 0x0A3A0001, 24}});
  network.SetProber([](const ProbeRequest& r) {
    const bool held = r.interfaceName == "eth0" && r.address == 0x0A390002;  // 10.57.0.2
    return ProbeFinding{held ? ProbeVerdict::kInUse : ProbeVerdict::kFree, "a scripted probe"};
  });
  Click(Button("FlatButton2"));
  const char* const macs[] = {"02-00-00-00-00-01", "02-00-00-00-00-02", "02-00-00-00-00-03",
                              "02-00-00-00-00-04", "02-00-00-00-00-05"};
  const auto reply = [&](const char* mac, const std::string& ip, const std::string& gateway,
                         const std::string& interfaceName) {
    network.Deliver(
        DiscoveryReply("Oxlo CG-100", mac, "1.0.1", "Oxlo", ip, "255.255.255.0", gateway),
        "10.57.0.2", interfaceName);
  };
  reply(macs[0], "10.57.0.101", "10.57.0.1", "eth0");
  reply(macs[1], "192.168.1.50", "192.168.1.1", "eth0");  // another subnet
  reply(macs[2], "10.57.0.120", "10.57.0.1", "eth0");     // two with one address
  reply(macs[3], "10.57.0.120", "10.57.0.1", "eth0");
  reply(macs[4], "10.57.0.1", "10.57.0.1", "eth0");    // this computer's address
  reply(macs[0], "10.58.0.101", "10.58.0.1", "eth1");  // the first one's MAC, elsewhere
  QCoreApplication::processEvents();
  ASSERT_EQ(Grid().rowCount(), 6);
  for (int i = 0; i < 10; ++i) window.TimerFINDTimer();
  // Once the search is over the suggestions are probed.
  const QString why =
      "192.168.1.50 is outside eth0's subnet 10.57.0.0/24: this computer cannot reach its web "
      "page or address it directly: give it 10.57.0.3 with mask 255.255.255.0 and no gateway";
  const auto tip = [&](int row) { return Grid().verticalHeaderItem(row)->toolTip(); };
  for (int i = 0; i < 500 && tip(1) != why; ++i) QTest::qWait(10);
  EXPECT_EQ(tip(1), why);
  EXPECT_EQ(tip(2),
            "10.57.0.120 is also held by 02-00-00-00-00-04: give it 10.57.0.4 with mask "
            "255.255.255.0");
  EXPECT_EQ(tip(4),
            "10.57.0.1 is also held by this computer (eth0): give it 10.57.0.6 with mask "
            "255.255.255.0");
  for (const int row : {0, 5}) {
    EXPECT_TRUE(tip(row).contains("another device with this MAC answers at"))
        << tip(row).toStdString();
  }
  for (const ProbeRequest& r : network.probes_asked) EXPECT_EQ(r.interfaceName, "eth0");

  // Web on the duplicate asks first, with the same advice; "No" opens nothing.
  ClickCell(Grid(), 2, column::kModel);
  prompter.answers = {Answer::No};
  Click(Button("FlatButton4"));
  ASSERT_EQ(prompter.messages.size(), 1u);
  EXPECT_EQ(prompter.messages[0],
            "10.57.0.120 is also held by 02-00-00-00-00-04.\r\nTo reach it, give it 10.57.0.4 "
            "with mask 255.255.255.0.\r\n\r\nOpen its web page anyway?");
  // On the device at this computer's own address it says why and opens nothing.
  ClickCell(Grid(), 4, column::kModel);
  Click(Button("FlatButton4"));
  ASSERT_EQ(prompter.messages.size(), 2u);
  EXPECT_EQ(prompter.messages[1],
            "10.57.0.1 is this computer's own address (eth0): the page that would open is this "
            "computer's, not the device's.\r\nTo reach the device, give it 10.57.0.6 with mask "
            "255.255.255.0.");
  // The other subnet's question names the probed address too; "Yes" opens it.
  ClickCell(Grid(), 1, column::kModel);
  prompter.answers = {Answer::Yes};
  Click(Button("FlatButton4"));
  ASSERT_EQ(prompter.messages.size(), 3u);
  EXPECT_TRUE(prompter.messages[2].contains("To reach it, give it 10.57.0.3 with mask"))
      << prompter.messages[2].toStdString();
  EXPECT_EQ(desktop.urls, std::vector<QString>{"http://192.168.1.50"});
  EXPECT_EQ(desktop.commands.size(), 1u);
}

TEST_F(DetectOperator, SearchByIpSendsToTheAddressTheDialogRead) {
  window.SetDialogRunner([](QDialog& dialog) {
    testing::ShowActive(dialog);
    Click(dialog.findChild<QLineEdit*>("FlatEdit1"));
    Type(dialog, "010.57.0.02");
    Click(dialog.findChild<QPushButton*>("FlatSpeedButton1"));
    return dialog.result();
  });
  Click(Button("FlatButton3"));
  const auto sent = network.Sent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].host, "10.57.0.2");
  EXPECT_EQ(sent[0].data, Hex("02 67 03"));
  EXPECT_TRUE(prompter.messages.empty());
}

TEST_F(DetectOperator, ConfigImportAndFirmwareActOnTheClickedRowWithItsEditStored) {
  Search(3);
  // Config: the edit still open in the row goes into the list first.
  ClickCell(Grid(), 2, column::kName);
  Type(window, "Bench");
  std::vector<std::string> read_from;
  window.SetDialogRunner([&](QDialog& dialog) {
    read_from = MacsSent();
    testing::ShowActive(dialog);
    Click(dialog.findChild<QPushButton*>("FlatButton2"));  // Cancel
    return dialog.result();
  });
  Click(Button("FlatButton8"));
  EXPECT_EQ(read_from, std::vector<std::string>(11, kMacs[2]));
  EXPECT_EQ(Grid().Text(2, column::kName), "Bench");
  EXPECT_TRUE(Grid().Modified(2));

  // Import: the window shows the clicked row's device; nothing is sent.
  ClickCell(Grid(), 1, column::kModel);
  network.ClearSent();
  QString shown_mac;
  window.SetDialogRunner([&](QDialog& dialog) {
    shown_mac = dialog.findChild<QLabel*>("MACLabel")->text();
    return QDialog::Rejected;
  });
  Bytes file = ComposeSettingsFile(Bytes(81, 0), Bytes(41, 0), Bytes(19, 0), FilterTable{});
  file[122 + 9] = kIdFormat11Bit;
  prompter.files = {File("import.oxl", file)};
  Click(Button("FlatButton10"));
  EXPECT_EQ(shown_mac, kMacs[1]);
  EXPECT_TRUE(network.Sent().empty());

  // Upgrade Firmware: every message names the clicked row's device.
  ClickCell(Grid(), 0, column::kVersion);
  network.ClearSent();
  network.SetResponder([](const SentDatagram& sent) -> std::optional<Bytes> {
    const auto m = ParseFirmwareMessage(sent.data);
    if (!m) return std::nullopt;
    return BuildFirmwareReply(m->mac, m->sequence, 0x00);
  });
  prompter.files = {File("image.bin", Bytes(200, 0x5A))};
  Click(Button("FlatButton7"));
  ASSERT_TRUE(testing::WaitForUpgradeEnd(window));
  EXPECT_EQ(prompter.messages.back(), "Updating firmware was successful");
  EXPECT_EQ(MacsSent(),
            std::vector<std::string>(6, kMacs[0]));  // two chunks and the end, twice each
}

TEST_F(DetectOperator, ADoubleClickOpensTheRowsDeviceWithItsEditStored) {
  Search(3);
  ClickCell(Grid(), 1, column::kName);
  Type(window, "Bench");  // still in its editor
  testing::DoubleClickCell(Grid(), 1, column::kModel);
  EXPECT_TRUE(config.isVisible());
  EXPECT_EQ(MacsSent(), std::vector<std::string>(11, kMacs[1]));
  EXPECT_EQ(Grid().Text(1, column::kName), "Bench");
  EXPECT_TRUE(Grid().Modified(1));
  Click(config.findChild<QPushButton*>("FlatButton2"));  // Cancel
  EXPECT_FALSE(config.isVisible());
}

TEST_F(DetectOperator, TheRowAnActionActsOnIsAlwaysTheHighlightedOne) {
  Search(3);
  EXPECT_TRUE(Highlighted(0));  // the first row, as soon as it arrived
  ClickCell(Grid(), 2, column::kModel);
  EXPECT_TRUE(Highlighted(2));

  // A new search shows the remembered row as soon as it is listed again.
  Click(Button("FlatButton2"));
  Reply(DiscoveryReply("Oxlo CG-100", kMacs[0], "1.0.1", "Oxlo-1", "10.57.0.101"));
  Reply(DiscoveryReply("Oxlo CG-100", kMacs[1], "1.0.1", "Oxlo-2", "10.57.0.102"));
  EXPECT_FALSE(Highlighted(0));
  EXPECT_FALSE(Highlighted(1));
  Reply(DiscoveryReply("Oxlo CG-100", kMacs[2], "1.0.1", "Oxlo-3", "10.57.0.103"));
  EXPECT_TRUE(Highlighted(2));
  for (int i = 0; i < 10; ++i) window.TimerFINDTimer();

  // A click on a cell of the highlighted row opens its editor.
  ClickCell(Grid(), 2, column::kName);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Grid().Editing(); }));
  testing::Key(window, Qt::Key_Escape);

  // Taken off the row by the operator: no row is acted on.
  QTest::mouseClick(Grid().viewport(), Qt::LeftButton, Qt::ControlModifier,
                    Grid().visualRect(Grid().model()->index(2, column::kModel)).center());
  ASSERT_FALSE(Highlighted(2));
  network.ClearSent();
  bool shown = false;
  window.SetDialogRunner([&](QDialog&) {
    shown = true;
    return QDialog::Rejected;
  });
  for (const char* button : {"FlatButton8", "FlatButton10", "FlatButton7"}) Click(Button(button));
  EXPECT_FALSE(shown);
  EXPECT_TRUE(network.Sent().empty());
  EXPECT_TRUE(prompter.dialogs.empty());
}

// After a new search the highlight follows the chosen device, not its row
// number: with a device before it gone, it is highlighted one row up and
// Config reads it; with it gone, nothing is highlighted and no action goes
// to the device that took its row.
TEST_F(DetectOperator, TheHighlightFollowsTheChosenDeviceIntoANewList) {
  Search(3);
  ClickCell(Grid(), 2, column::kModel);
  const auto searchAgain = [&](std::initializer_list<int> listed) {
    Click(Button("FlatButton2"));
    for (const int i : listed) {
      const std::string n = std::to_string(i + 1);
      Reply(DiscoveryReply("Oxlo CG-100", kMacs[i], "1.0.1", "Oxlo-" + n, "10.57.0.10" + n));
    }
    for (int i = 0; i < 10; ++i) window.TimerFINDTimer();
  };
  std::vector<std::string> read_from;
  bool shown = false;
  window.SetDialogRunner([&](QDialog& dialog) {
    shown = true;
    read_from = MacsSent();
    testing::ShowActive(dialog);
    Click(dialog.findChild<QPushButton*>("FlatButton2"));  // Cancel
    return dialog.result();
  });

  searchAgain({0, 2});
  EXPECT_FALSE(Highlighted(0));
  EXPECT_TRUE(Highlighted(1));
  network.ClearSent();
  Click(Button("FlatButton8"));
  EXPECT_EQ(read_from, std::vector<std::string>(11, kMacs[2]));

  searchAgain({0, 1});
  EXPECT_FALSE(Highlighted(0));
  EXPECT_FALSE(Highlighted(1));
  shown = false;
  network.ClearSent();
  for (const char* button : {"FlatButton8", "FlatButton10", "FlatButton7"}) Click(Button(button));
  EXPECT_FALSE(shown);
  EXPECT_TRUE(network.Sent().empty());
  EXPECT_TRUE(prompter.dialogs.empty());

  // Listed again, it is highlighted again.
  searchAgain({2, 0, 1});
  EXPECT_TRUE(Highlighted(0));
  EXPECT_FALSE(Highlighted(2));
}

// One table of settings files through both front ends: the window's Import
// and the command line's reading of the file refuse the same files, name
// the same field and value, and send nothing for them.
TEST_F(DetectOperator, ImportAndTheCommandLineRefuseTheSameFiles) {
  const Bytes whole = BuildSettingsFile(oxlo::testing::kMac, oxlo::testing::SampleSettings());
  struct Case {
    const char* what;
    std::size_t offset;  // of the byte changed; past the end for none
    std::uint8_t value;
    std::size_t length;
    const char* message;  // what both say; empty when both take the file
  };
  const std::size_t kNone = 10000;
  const Case cases[] = {
      {"whole file", kNone, 0, 429, ""},
      {"longer file", kNone, 0, 500, ""},
      {"types only", kNone, 0, 173, ""},
      {"DHCP", 8, 1, 429, ""},
      {"network type", 8, 2, 429,
       "The settings file holds network type 2, which has no entry (0 Static IP, 1 DHCP)."},
      {"mode code", 81 + 9, 8, 429,
       "The settings file holds operation mode code 8, which has no entry (0 to 7)."},
      {"port type", 81 + 28, 2, 429,
       "The settings file holds port type 2, which has no entry (0 Data, 1 Modem)."},
      {"bit rate", 122 + 8, 10, 429,
       "The settings file holds CAN bit rate index 10, which has no entry (0 to 9)."},
      {"identifier format", 122 + 9, 3, 429,
       "The settings file holds CAN ID format 3, which has no entry (1 A, 2 B)."},
      {"filter type", 141 + 7, 0xFF, 429,
       "The settings file holds filter 8 type 255, which has no entry (0 Disable, 1 Standard, 2 "
       "Extend)."},
  };
  Search(1);
  for (const Case& c : cases) {
    Bytes bytes = whole;
    bytes.resize(c.length, 'x');
    if (c.offset < bytes.size()) bytes[c.offset] = c.value;

    std::string cli_refusal;
    try {
      ParseSettingsFile(bytes);
    } catch (const SettingsFileError& error) {
      cli_refusal = error.what();
    }

    prompter.messages.clear();
    network.ClearSent();
    bool shown = false;
    window.SetDialogRunner([&](QDialog&) {
      shown = true;
      return QDialog::Rejected;
    });
    ClickCell(Grid(), 0, column::kModel);
    prompter.files = {File("table.oxl", bytes)};
    Click(Button("FlatButton10"));

    const bool refused = *c.message != '\0';
    EXPECT_EQ(shown, !refused) << c.what;
    EXPECT_EQ(cli_refusal, c.message) << c.what;
    EXPECT_EQ(prompter.messages, refused ? std::vector<QString>{c.message} : std::vector<QString>{})
        << c.what;
    EXPECT_TRUE(network.Sent().empty()) << c.what;
  }
}

// The same file and the same replies through both front ends: the window's
// Import and Apply send the bytes the command line's import sends, and both
// judge the device's answer alike.
TEST_F(DetectOperator, ImportAndApplySendWhatTheCommandLineSends) {
  const Bytes file = BuildSettingsFile(oxlo::testing::kMac, oxlo::testing::SampleSettings());
  const MacField target = MacToBytes(kMacs[0]);
  std::vector<Bytes> expected = SettingsMessages(target, ParseSettingsFile(file));
  expected.push_back(BuildApplyCommand(target));
  ASSERT_EQ(expected.size(), 12u);

  for (const bool acknowledged : {true, false}) {
    Search(1);
    ClickCell(Grid(), 0, column::kModel);
    prompter.messages.clear();
    prompter.answers = {Answer::Yes};  // all 32 filters
    window.SetDialogRunner([&](QDialog& dialog) {
      testing::ShowActive(dialog);
      network.ClearSent();
      Click(dialog.findChild<QPushButton*>("FlatButton1"));
      testing::WaitWhileWriting(config);
      Reply(acknowledged ? BuildApplyAck(target) : BuildUReply(target));
      if (acknowledged) {
        // The device took the file: the read-back finds it.
        const DeviceSettings settings = ParseSettingsFile(file);
        for (const Bytes& reply : oxlo::testing::RepliesOf(target, settings)) Reply(reply);
        // And its discovery reply shows the name and address in use.
        DeviceIdentity shown;
        shown.mac = target;
        shown.name = settings.network.name;
        shown.ip = settings.network.address;
        Reply(BuildDiscoveryReply(shown));
        return dialog.result();
      }
      for (int tick = 0; tick < kAckTicks; ++tick) testing::Elapse(clock, config, 1000);
      return dialog.result();
    });
    prompter.files = {File("both.oxl", file)};
    Click(Button("FlatButton10"));

    // What went to the device; the list's new search after the window closed aside.
    std::vector<Bytes> sent;
    for (const SentDatagram& d : network.Sent()) {
      if (d.sender == "device" && d.data != BuildDiscoveryQuery()) sent.push_back(d.data);
    }
    std::vector<Bytes> want = expected;
    if (acknowledged) {
      // Then the read-back, the command line's as the window's.
      for (const ReadStep& step : kReadPlan) want.push_back(BuildReadRequest(step.kind, target));
    }
    EXPECT_EQ(sent, want) << acknowledged;
    EXPECT_EQ(prompter.messages.back(), acknowledged ? "Configuration was successfully applied"
                                                     : "Connection Lost. Please try again.");
    config.done(QDialog::Rejected);
  }
}

}  // namespace
}  // namespace oxlo::ui
