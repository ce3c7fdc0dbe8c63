// The device list window driven through its widgets, with the in-process
// network: search runs, the search by IP, editing and Apply.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QTest>

#include "protocol/wire/frame.h"
#include "tests/protocol/test_bytes.h"
#include "tests/ui/doubles.h"
#include "ui/detect/device_grid.h"
#include "ui/detect/form_detect.h"
#include "ui/detect/form_search_ip.h"

namespace oxlo::ui {
namespace {

using oxlo::testing::Hex;
using testing::DiscoveryReply;
using testing::FakeNetwork;
using testing::RecordingDesktop;
using testing::RecordingPrompter;
using testing::SentDatagram;

const Bytes kQuery = Hex("02 67 03");

Bytes Device(int n, const std::string& ip = "") {
  char mac[18];
  std::snprintf(mac, sizeof mac, "02-00-00-00-00-%02X", n);
  return DiscoveryReply("OX-CAN-1", mac, "1.0.4", "Oxlo-" + std::to_string(n),
                        ip.empty() ? "10.57.0." + std::to_string(100 + n) : ip);
}

class DetectWindow : public ::testing::Test {
 protected:
  RecordingPrompter prompter;
  RecordingDesktop desktop;
  testing::RecordingPacer pacer;
  FakeNetwork network;
  std::unique_ptr<TFormDetect> window =
      std::make_unique<TFormDetect>(prompter, desktop, pacer, network);

  template <typename T>
  T* Child(const char* name) {
    T* child = window->findChild<T*>(name);
    EXPECT_NE(child, nullptr) << name;
    return child;
  }
  DeviceGrid* Grid() { return Child<DeviceGrid>("RGrid"); }
  QString Count() { return Child<QLabel>("lblcount")->text(); }
  QString Countdown() { return Child<QLabel>("PnlTime")->text(); }
  void Click(const char* button) { QTest::mouseClick(Child<QPushButton>(button), Qt::LeftButton); }

  // As the network would: on a receiving thread, then the UI thread's turn.
  void Reply(const Bytes& datagram) {
    network.Deliver(datagram);
    QCoreApplication::processEvents();
  }
  void Ticks(int n) {
    for (int i = 0; i < n; ++i) window->TimerFINDTimer();
  }
  void SearchWith(std::initializer_list<int> devices) {
    Click("FlatButton2");
    for (int n : devices) Reply(Device(n));
  }
};

TEST_F(DetectWindow, SearchBroadcastsOneQueryAndListsEachDeviceOnceInArrivalOrder) {
  EXPECT_EQ(Count(), "");
  Click("FlatButton2");
  const auto sent = network.Sent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].host, "255.255.255.255");
  EXPECT_EQ(sent[0].port, 2057);
  EXPECT_EQ(sent[0].data, kQuery);
  EXPECT_TRUE(network.LastSendBroadcastOption());

  const Bytes long_texts = DiscoveryReply("ABCDEFGHIJKLMNOPQRST", "02-00-00-00-00-09", "1.0.4567",
                                          "Wide", "10.57.0.109");
  Reply(Device(2));
  Reply(Device(2));
  Reply(Hex("02 67 03"));  // our own query coming back
  Reply(Bytes(84, 0x03));  // too short to be a reply
  Reply(long_texts);
  Reply(Device(1));

  DeviceGrid* grid = Grid();
  ASSERT_EQ(grid->rowCount(), 3);
  EXPECT_EQ(window->DeviceCount(), 3);
  EXPECT_EQ(grid->Text(0, column::kMac), "02-00-00-00-00-02");
  EXPECT_EQ(grid->Text(1, column::kMac), "02-00-00-00-00-09");
  EXPECT_EQ(grid->Text(2, column::kMac), "02-00-00-00-00-01");
  EXPECT_EQ(grid->Text(1, column::kModel), "ABCDEFGHIJKLMNOP");
  EXPECT_EQ(grid->Text(1, column::kVersion), "1.0.456");
  const QStringList row0{grid->Text(0, column::kModel),  grid->Text(0, column::kVersion),
                         grid->Text(0, column::kName),   grid->Text(0, column::kIp),
                         grid->Text(0, column::kMask),   grid->Text(0, column::kGateway),
                         grid->Text(0, column::kColumn2)};
  EXPECT_EQ(row0, (QStringList{"OX-CAN-1", "1.0.4", "Oxlo-2", "10.57.0.102", "255.255.255.0",
                               "10.57.0.1", "10.57.0.102"}));
  EXPECT_FALSE(grid->Modified(0));
  EXPECT_TRUE(grid->isColumnHidden(column::kColumn0));
  EXPECT_TRUE(grid->isColumnHidden(column::kColumn2));
  EXPECT_EQ(Count(), "Current : 3");
}

TEST_F(DetectWindow, TitlesCarryTheVersionAsTheyAlwaysHave) {
  EXPECT_EQ(window->windowTitle(), "OxloConfig 1.0.001");
  EXPECT_EQ(kApplicationTitle, "OxloConfig v1.0.001");
}

TEST_F(DetectWindow, CounterKeepsItsTextOverClearListUntilTheNextDevice) {
  SearchWith({1, 2, 3});
  EXPECT_EQ(Count(), "Current : 3");
  window->ClearList();
  EXPECT_EQ(Grid()->rowCount(), 0);
  EXPECT_EQ(Count(), "Current : 3");
  Reply(Device(2));  // listed before the clearing: counts as new now
  EXPECT_EQ(Count(), "Current : 1");
}

TEST_F(DetectWindow, CountdownRunsTenTicksWithToolbarAndListDisabled) {
  Click("FlatButton2");
  auto* toolbar = Child<QWidget>("FlatPanel1");
  auto* list = Child<QWidget>("FlatPanel2");
  EXPECT_TRUE(Child<QLabel>("PnlTime")->isVisibleTo(window.get()));
  EXPECT_EQ(Countdown(), "        Search ends in = 10 seconds");
  EXPECT_FALSE(toolbar->isEnabled());
  EXPECT_FALSE(list->isEnabled());
  EXPECT_TRUE(Child<QPushButton>("FlatButton1")->isEnabled());
  EXPECT_TRUE(window->UDPServer().IsActive());

  for (int left = 9; left >= 1; --left) {
    Ticks(1);
    EXPECT_EQ(Countdown(), "        Remain time = " + QString::number(left) + "sec");
    EXPECT_TRUE(Child<QLabel>("PnlTime")->isVisibleTo(window.get()));
  }
  Ticks(1);
  EXPECT_FALSE(Child<QLabel>("PnlTime")->isVisibleTo(window.get()));
  EXPECT_TRUE(toolbar->isEnabled());
  EXPECT_TRUE(list->isEnabled());
  EXPECT_FALSE(window->UDPServer().IsActive());
  EXPECT_TRUE(prompter.messages.empty());  // a broadcast search never complains
  Reply(Device(1));
  EXPECT_EQ(window->DeviceCount(), 0);
}

TEST_F(DetectWindow, StopEndsAtOnceAndDropsRepliesNotYetApplied) {
  SearchWith({1});
  network.Deliver(Device(2));  // received, still waiting for the UI thread
  Click("FlatButton6");
  QCoreApplication::processEvents();
  Reply(Device(3));
  EXPECT_EQ(window->DeviceCount(), 1);
  EXPECT_FALSE(window->UDPServer().IsActive());
  EXPECT_FALSE(Child<QLabel>("PnlTime")->isVisibleTo(window.get()));
  EXPECT_TRUE(Child<QWidget>("FlatPanel1")->isEnabled());
  EXPECT_TRUE(prompter.messages.empty());
}

TEST_F(DetectWindow, SearchFailsWithTheBindErrorWhileAnotherEndpointHoldsThePort) {
  SearchWith({1});
  Ticks(10);
  auto holder = network.MakeDeviceEndpoint();
  holder->Open();
  Click("FlatButton2");
  ASSERT_EQ(prompter.messages.size(), 1u);
  EXPECT_EQ(prompter.messages[0], "Could not bind socket. Address and port are already in use.");
  EXPECT_EQ(Grid()->rowCount(), 0);
  EXPECT_FALSE(Child<QLabel>("PnlTime")->isVisibleTo(window.get()));
  EXPECT_TRUE(Child<QWidget>("FlatPanel1")->isEnabled());
}

TEST_F(DetectWindow, RememberedRowBeyondAShorterListIsNotUsed) {
  SearchWith({1, 2, 3});
  Ticks(10);
  Grid()->setCurrentCell(2, column::kName);
  EXPECT_EQ(window->SelectedRow(), 2);
  EXPECT_EQ(window->SelectedListedRow(), 2);
  SearchWith({1});
  EXPECT_EQ(window->SelectedRow(), -1);  // the chosen device is not listed
  EXPECT_EQ(window->SelectedListedRow(), -1);
}

// Every MAC shows whole in the window's font (its widest, all Ds), and with
// more devices than fit the scroll bar takes no part of the "Modified"
// header: the item view draws text inside a margin of the focus frame's
// width plus one on each side, the header inside its header margin.
TEST_F(DetectWindow, EveryMacShowsWholeAndTheModifiedHeaderWithAScrollBar) {
  window->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  Click("FlatButton2");
  Reply(DiscoveryReply("OX-CAN-1", "DD-DD-DD-DD-DD-DD", "1.0.4", "Wide", "10.57.0.99"));
  for (int n = 1; n < 30; ++n) Reply(Device(n));
  Ticks(10);
  DeviceGrid* grid = Grid();
  QCoreApplication::processEvents();
  ASSERT_TRUE(grid->verticalScrollBar()->isVisible());

  QStyle* style = grid->style();
  const int itemMargin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, grid) + 1;
  const QRect mac = grid->visualRect(grid->model()->index(0, column::kMac));
  EXPECT_GE(mac.width() - 2 * itemMargin,
            grid->fontMetrics().horizontalAdvance(grid->Text(0, column::kMac)));
  EXPECT_EQ(grid->Text(0, column::kMac), "DD-DD-DD-DD-DD-DD");

  QHeaderView* header = grid->horizontalHeader();
  QFont bold = header->font();
  bold.setBold(true);
  const int headerMargin = style->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
  const int end =
      header->sectionViewportPosition(column::kModified) + header->sectionSize(column::kModified);
  EXPECT_LE(end, header->viewport()->width());
  EXPECT_GE(header->sectionSize(column::kModified) - 2 * headerMargin,
            QFontMetrics(bold).horizontalAdvance("Modified"));
  if (qEnvironmentVariableIsSet("OXLO_GRAB"))
    window->grab().save(qEnvironmentVariable("OXLO_GRAB"));
}

// The search by IP, with the dialog played by the test.
class SearchByIp : public DetectWindow {
 protected:
  // Types the text, presses Search (or Cancel) and gives the dialog's result.
  void Answer(const QString& text, bool cancel = false) {
    window->SetDialogRunner([text, cancel](QDialog& dialog) {
      dialog.findChild<QLineEdit*>("FlatEdit1")->setText(text);
      QTest::mouseClick(
          dialog.findChild<QPushButton*>(cancel ? "FlatSpeedButton2" : "FlatSpeedButton1"),
          Qt::LeftButton);
      return dialog.result();
    });
  }
};

TEST_F(SearchByIp, SendsOneQueryToThatHostWithBroadcastOff) {
  Answer("192.168.1.10");
  Click("FlatButton3");
  const auto sent = network.Sent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].host, "192.168.1.10");
  EXPECT_EQ(sent[0].port, 2057);
  EXPECT_EQ(sent[0].data, kQuery);
  EXPECT_FALSE(network.LastSendBroadcastOption());
  EXPECT_EQ(window->SavedCount(), 0);
  EXPECT_EQ(Countdown(), "        Search ends in = 10 seconds");
}

TEST_F(SearchByIp, EndsWithThereIsNoOxloOnlyWhenNothingAnswered) {
  Answer("10.57.0.2");
  Click("FlatButton3");
  Ticks(10);
  EXPECT_EQ(prompter.messages, std::vector<QString>{"There is no Oxlo."});
  EXPECT_EQ(Grid()->rowCount(), 0);

  prompter.messages.clear();
  Click("FlatButton3");
  Reply(Device(4));
  Ticks(10);
  EXPECT_TRUE(prompter.messages.empty());
  EXPECT_EQ(window->DeviceCount(), 1);
}

TEST_F(SearchByIp, CancelLeavesListAndEndpointAsTheyWere) {
  SearchWith({1, 2});
  Ticks(10);
  network.ClearSent();
  Answer("10.57.0.2", /*cancel=*/true);
  Click("FlatButton3");
  EXPECT_EQ(window->DeviceCount(), 2);
  EXPECT_FALSE(window->UDPServer().IsActive());
  EXPECT_TRUE(network.Sent().empty());
}

TEST(SearchIpDialog, AcceptsOnlyHostAddressesAndRefusesTheRestWithAMessage) {
  struct Case {
    const char* text;
    bool accepted;
  };
  const Case cases[] = {
      {"192.168.1.10", true},    {"253.254.254.253", true}, {"1.0.0.1", true},
      {"192.168.1.254", false},  {"192.168.1.0", false},    {"0.1.2.3", false},
      {"254.1.2.3", false},      {"10.255.0.1", false},     {"192.168.1", false},
      {"192.168.1.10.5", false}, {"192.168.a.1", false},    {"1..2.3", false},
  };
  for (const Case& c : cases) {
    RecordingPrompter prompter;
    TFormSearchIP dialog(prompter, nullptr);
    dialog.findChild<QLineEdit*>("FlatEdit1")->setText(c.text);
    QTest::mouseClick(dialog.findChild<QPushButton*>("FlatSpeedButton1"), Qt::LeftButton);
    EXPECT_EQ(dialog.result() == QDialog::Accepted, c.accepted) << c.text;
    EXPECT_EQ(prompter.messages,
              c.accepted ? std::vector<QString>{} : std::vector<QString>{"IP is not valid."})
        << c.text;
  }
}

TEST(SearchIpDialog, EnterInTheEditSearchesAndAnEmptyEditDoesNothing) {
  RecordingPrompter prompter;
  TFormSearchIP dialog(prompter, nullptr);
  auto* edit = dialog.findChild<QLineEdit*>("FlatEdit1");
  QTest::keyClick(edit, Qt::Key_Return);
  QTest::mouseClick(dialog.findChild<QPushButton*>("FlatSpeedButton1"), Qt::LeftButton);
  EXPECT_TRUE(prompter.messages.empty());
  EXPECT_NE(dialog.result(), QDialog::Accepted);

  QTest::keyClicks(edit, "10.0.0.255");
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_EQ(prompter.messages, std::vector<QString>{"IP is not valid."});
  // The Enter that closed the message box is released in the edit: no new search.
  QTest::keyRelease(edit, Qt::Key_Return);
  EXPECT_EQ(prompter.messages.size(), 1u);

  edit->clear();
  QTest::keyClicks(edit, "10.0.0.9");
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.AddressText(), "10.0.0.9");
}

// Editing cells of the list through the keyboard.
class ListEditing : public DetectWindow {
 protected:
  void SetUp() override {
    window->show();
    SearchWith({1, 2});
    Ticks(10);
  }
  // Types each character at whatever has the keyboard: the grid until an
  // editor opens, then the editor.
  void Type(int row, int c, const QString& text) {
    DeviceGrid* grid = Grid();
    grid->setCurrentCell(row, c);
    for (QChar ch : text) {
      QWidget* target = grid->indexWidget(grid->currentIndex());
      QTest::keyClick(target != nullptr ? target : grid, ch.toLatin1());
    }
  }
  QWidget* Editor() { return Grid()->indexWidget(Grid()->currentIndex()); }
  // Enter stores the edit on the event loop's next turn.
  void PressEnter() {
    QTest::keyClick(Editor(), Qt::Key_Return);
    QCoreApplication::processEvents();
  }
};

TEST_F(ListEditing, AddressColumnsTakeOnlyDigitsDotsPercentAndApostrophe) {
  Type(0, column::kIp, "a");
  EXPECT_EQ(Editor(), nullptr);  // refused before any edit began
  EXPECT_FALSE(Grid()->Modified(0));
  Type(0, column::kIp, "5a.%'b");
  ASSERT_NE(Editor(), nullptr);
  EXPECT_EQ(qobject_cast<QLineEdit*>(Editor())->text(), "5.%'");
  PressEnter();
  EXPECT_EQ(Grid()->Text(0, column::kIp), "5.%'");

  Type(1, column::kName, "a1");
  PressEnter();
  EXPECT_EQ(Grid()->Text(1, column::kName), "a1");
}

TEST_F(ListEditing, StartingAnEditMarksTheRowAndCancellingTakesTheMarkBack) {
  Type(1, column::kMask, "2");
  EXPECT_TRUE(Grid()->Modified(1));  // marked while the edit is pending
  PressEnter();
  EXPECT_TRUE(Grid()->Modified(1));
  EXPECT_EQ(Grid()->Text(1, column::kMask), "2");

  Type(0, column::kGateway, "9");
  EXPECT_TRUE(Grid()->Modified(0));
  QTest::keyClick(Editor(), Qt::Key_Escape);
  EXPECT_FALSE(Grid()->Modified(0));
  EXPECT_EQ(Grid()->Text(0, column::kGateway), "10.57.0.1");
  EXPECT_FALSE(Grid()->Modified(0));
}

TEST_F(ListEditing, ArrowKeysSkipTheReadOnlyColumns) {
  DeviceGrid* grid = Grid();
  grid->setCurrentCell(0, column::kModel);
  QTest::keyClick(grid, Qt::Key_Right);
  EXPECT_EQ(grid->currentColumn(), column::kName);
  QTest::keyClick(grid, Qt::Key_Left);
  EXPECT_EQ(grid->currentColumn(), column::kName);
  QTest::keyClick(grid, Qt::Key_Right);
  EXPECT_EQ(grid->currentColumn(), column::kIp);
  QTest::keyClick(grid, Qt::Key_Down);
  EXPECT_EQ(grid->currentRow(), 1);
  EXPECT_EQ(window->SelectedRow(), 1);
}

TEST_F(ListEditing, TextsKeepTheirColumnWidth) {
  Type(0, column::kIp, "1234567890123456789");
  EXPECT_EQ(qobject_cast<QLineEdit*>(Editor())->text().size(), 15);
  QTest::keyClick(Editor(), Qt::Key_Escape);
  Type(0, column::kName, QString(40, 'n'));
  PressEnter();
  EXPECT_EQ(Grid()->Text(0, column::kName).size(), 32);
}

// Apply of edited addresses.
class ApplyAddresses : public ListEditing {
 protected:
};

TEST_F(ApplyAddresses, EmptyListAndNoMarkedRowOnlyTellTheOperator) {
  window->ClearList();
  Click("FlatButton1");
  EXPECT_EQ(prompter.messages,
            std::vector<QString>{"No Oxlo device found.\r\nPlease connect an Oxlo."});

  prompter.messages.clear();
  SearchWith({1, 2});
  Ticks(10);
  network.ClearSent();
  Click("FlatButton1");
  EXPECT_EQ(prompter.messages, std::vector<QString>{"No device is applied."});
  EXPECT_EQ(Grid()->rowCount(), 2);
  EXPECT_TRUE(network.Sent().empty());
}

TEST_F(ApplyAddresses, AnInvalidAddressInAnyRowBlocksEverything) {
  Grid()->SetModified(0, true);
  Grid()->SetText(1, column::kGateway, "1.2.3");  // unmarked row
  network.ClearSent();
  Click("FlatButton1");
  EXPECT_EQ(prompter.messages, std::vector<QString>{"Please check the IP's setting."});
  EXPECT_TRUE(network.Sent().empty());
  EXPECT_TRUE(Grid()->Modified(0));
  EXPECT_EQ(window->focusWidget(), Grid());
}

TEST_F(ApplyAddresses, MarkedRowsGoOutInRowOrderThenTheListIsCleared) {
  SearchWith({1, 2, 3});
  Ticks(10);
  network.ClearSent();
  Grid()->SetText(0, column::kIp, "10.0.0.5");
  Grid()->SetText(0, column::kMask, "255.0.0.0");
  Grid()->SetText(0, column::kGateway, "10.0.0.1");
  Grid()->SetModified(0, true);
  Type(2, column::kMask, "255.255.0.0");  // still being edited when Apply is pressed
  Click("FlatButton1");

  const Bytes name1 =
      oxlo::testing::Concat({oxlo::testing::Ascii("Oxlo-1"), oxlo::testing::Zeros(26)});
  const Bytes s0 = oxlo::testing::Concat(
      {Hex("02 53 02 00 00 00 00 01 0A 00 00 05 0A 00 00 01 FF 00 00 00 00 00 00 00"), name1,
       Hex("03")});
  const auto sent = network.Sent();
  ASSERT_EQ(sent.size(), 6u);
  EXPECT_EQ(sent[0].sender, "device");
  EXPECT_EQ(sent[0].data, kQuery);
  EXPECT_EQ(sent[0].host, "255.255.255.255");
  for (int i : {1, 2}) {
    EXPECT_EQ(sent[i].sender, "every-interface");
    EXPECT_EQ(sent[i].host, "255.255.255.255");
    EXPECT_EQ(sent[i].port, 2057);
    EXPECT_EQ(sent[i].data, s0);
  }
  EXPECT_EQ(sent[3].data, kQuery);
  ASSERT_EQ(sent[4].data.size(), 57u);
  EXPECT_EQ(Bytes(sent[4].data.begin() + 2, sent[4].data.begin() + 8), Hex("02 00 00 00 00 03"));
  EXPECT_EQ(Bytes(sent[4].data.begin() + 16, sent[4].data.begin() + 20), Hex("FF FF 00 00"));
  EXPECT_EQ(sent[5].data, sent[4].data);

  EXPECT_EQ(prompter.messages,
            std::vector<QString>{"Configuration of 2 device(s) was/were successful."});
  EXPECT_EQ(Grid()->rowCount(), 0);
  EXPECT_EQ(window->DeviceCount(), 0);
  EXPECT_TRUE(window->UDPServer().IsActive());  // answers to the queries still arrive
  Reply(Device(1, "10.0.0.5"));
  EXPECT_EQ(Grid()->Text(0, column::kIp), "10.0.0.5");
}

TEST_F(ApplyAddresses, AnErrorEndsTheRunWithEarlierRowsAppliedAndNoSummary) {
  Grid()->SetText(0, column::kIp, "10.57.0.77");
  Grid()->SetModified(0, true);
  Grid()->SetModified(1, true);
  Grid()->SetText(1, column::kMac, "02-00-00-00-00-ZZ");  // not hex: its message cannot be built
  network.ClearSent();
  Click("FlatButton1");
  EXPECT_EQ(prompter.messages, std::vector<QString>{"No Hex-Number"});
  EXPECT_EQ(network.Sent().size(), 3u);  // row 0: query and two copies
  EXPECT_FALSE(Grid()->Modified(0));
  EXPECT_EQ(Grid()->Text(0, column::kColumn2), "10.57.0.77");
  EXPECT_TRUE(Grid()->Modified(1));
  EXPECT_EQ(Grid()->rowCount(), 2);

  prompter.messages.clear();
  network.ClearSent();
  Grid()->SetText(1, column::kMac, "02-00-00-00-00-02");
  network.FailNextSend("Not all bytes sent.");
  Click("FlatButton1");
  EXPECT_EQ(prompter.messages, std::vector<QString>{"Not all bytes sent."});
  EXPECT_TRUE(Grid()->Modified(1));
  EXPECT_EQ(Grid()->rowCount(), 2);
}

}  // namespace
}  // namespace oxlo::ui
