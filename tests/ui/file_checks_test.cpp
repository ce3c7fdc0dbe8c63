// Files the operator picks that are no settings file or image to use: a
// folder, a FIFO, a device, a huge file, a link. Each is picked in the file
// dialog and the button clicked; the window answers at once and sends
// nothing for what it refuses.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include "protocol/conversation/firmware_upload.h"
#include "protocol/settings/settings_file.h"
#include "protocol/wire/discovery.h"
#include "tests/support/config_window.h"
#include "tests/support/detect_window.h"
#include "tests/support/operator.h"
#include "tests/support/sample_settings.h"
#include "tests/ui/doubles.h"
#include "ui/configure/config_form.h"
#include "ui/detect/device_grid.h"
#include "ui/detect/form_detect.h"

namespace oxlo::ui {
namespace {

using testing::Click;
using testing::ClickCell;
using testing::DiscoveryReply;

// Ends the test program, rather than letting it hang, when the window waits
// on a FIFO.
class Watchdog {
 public:
  Watchdog() { ::alarm(20); }
  ~Watchdog() { ::alarm(0); }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;
};

QString Write(const QString& path, const Bytes& bytes) {
  QFile file(path);
  EXPECT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
  return path;
}

Bytes Read(const QString& path) {
  QFile file(path);
  EXPECT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray content = file.readAll();
  return Bytes(content.begin(), content.end());
}

QString Fifo(const QString& path) {
  EXPECT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
  return path;
}

// Grown to `size` bytes without taking room on the disk.
QString Sparse(const QString& path, const Bytes& start, qint64 size) {
  Write(path, start);
  EXPECT_TRUE(QFile::resize(path, size));
  return path;
}

QString NotRegular(const QString& path, const char* kind) {
  return "cannot read " + path + ": it is " + kind + ", not a regular file";
}

class FileChecks : public testing::DetectWindow {
 public:
  void SetUp() override {
    DetectWindow::SetUp();
    Search(1);
    ClickCell(Grid(), 0, column::kModel);
    network.ClearSent();
  }
  bool ToolbarEnabled() { return window.findChild<QWidget*>("FlatPanel1")->isEnabled(); }
};

// Only the 429 bytes a settings file uses are read, so a huge file costs no
// more than a small one; what is no file is refused without waiting on it.
TEST_F(FileChecks, ImportReadsASettingsFilesBytesAndRefusesWhatIsNoFile) {
  QDir(dir.path()).mkdir("folder");
  DeviceSettings sample = oxlo::testing::SampleSettings();
  sample.network.name = "From the file";
  const Bytes settings = BuildSettingsFile(oxlo::testing::kMac, sample);
  // A terabyte: more than any test machine could read into memory.
  const QString huge = Sparse(dir.filePath("huge.oxl"), settings, qint64{1} << 40);
  struct Case {
    QString file;
    QString message;  // empty when the window opens with the file's settings
  };
  const Case cases[] = {
      {huge, ""},
      {Fifo(dir.filePath("pipe.oxl")), NotRegular(dir.filePath("pipe.oxl"), "a FIFO (named pipe)")},
      {dir.filePath("folder"), NotRegular(dir.filePath("folder"), "a directory")},
      {"/dev/zero", NotRegular("/dev/zero", "a character device")},
  };
  const Watchdog watchdog;
  for (const Case& c : cases) {
    prompter.messages.clear();
    QString name_shown;
    window.SetDialogRunner([&](QDialog& dialog) {
      name_shown = dialog.findChild<QLineEdit*>("DeviceNameText")->text();
      return QDialog::Rejected;
    });
    prompter.files = {c.file};
    Click(Button("FlatButton10"));
    if (c.message.isEmpty()) {
      EXPECT_EQ(name_shown, "From the file") << c.file.toStdString();
      EXPECT_TRUE(prompter.messages.empty()) << c.file.toStdString();
    } else {
      EXPECT_TRUE(name_shown.isEmpty()) << c.file.toStdString() << ": the window opened";
      EXPECT_EQ(prompter.messages, std::vector<QString>{c.message});
    }
    EXPECT_TRUE(network.Sent().empty()) << c.file.toStdString();
  }
}

// Nothing goes to the device for an image that cannot be sent whole: the
// refusal comes before the first firmware message, and the window is ready
// again.
TEST_F(FileChecks, FirmwareRefusesAFifoAndAnImageTooLargeBeforeSending) {
  const QString over = Sparse(dir.filePath("over.bin"), Bytes(128, 0x5A), qint64{1} << 31);
  struct Case {
    QString file;
    QString message;
  };
  const Case cases[] = {
      {Fifo(dir.filePath("pipe.bin")), NotRegular(dir.filePath("pipe.bin"), "a FIFO (named pipe)")},
      {over, "The firmware image is too large: " + over +
                 " holds 2147483648 bytes, an image at most 2147483647."},
      {"/dev/zero", NotRegular("/dev/zero", "a character device")},
  };
  const Watchdog watchdog;
  for (const Case& c : cases) {
    prompter.messages.clear();
    prompter.files = {c.file};
    Click(Button("FlatButton7"));
    EXPECT_EQ(prompter.messages, std::vector<QString>{c.message});
    EXPECT_TRUE(network.Sent().empty()) << c.file.toStdString();
    EXPECT_TRUE(ToolbarEnabled()) << c.file.toStdString();
    EXPECT_FALSE(window.findChild<QWidget*>("FlatPanel3")->isVisibleTo(&window))
        << c.file.toStdString();
  }
}

class ExportChecks : public testing::ConfigWindow {
 public:
  QTemporaryDir dir;

  void Export(const QString& path) {
    prompter.files = {path};
    Click(Child<QPushButton>("FlatButton9"));
  }
};

// Export through a link writes the file the link names and keeps the link;
// a FIFO in the file's place is refused and stays a FIFO.
TEST_F(ExportChecks, ALinkIsWrittenThroughAndAFifoIsRefused) {
  testing::ShowActive(form);
  OpenAndRead();
  Export(dir.filePath("direct.oxl"));
  const Bytes exported = Read(dir.filePath("direct.oxl"));
  ASSERT_EQ(exported.size(), kSettingsFileSize);

  QDir(dir.path()).mkdir("kept");
  Write(dir.filePath("kept/target.oxl"), Bytes{'o', 'l', 'd'});
  ASSERT_TRUE(QFile::link("kept/target.oxl", dir.filePath("link.oxl")));
  Export(dir.filePath("link.oxl"));
  EXPECT_TRUE(QFileInfo(dir.filePath("link.oxl")).isSymLink());
  EXPECT_EQ(Read(dir.filePath("kept/target.oxl")), exported);
  EXPECT_EQ(QDir(dir.filePath("kept")).entryList(QDir::Files | QDir::Hidden),
            QStringList{"target.oxl"});  // no temporary file left

  const QString pipe = Fifo(dir.filePath("pipe.oxl"));
  const Watchdog watchdog;
  Export(pipe);
  EXPECT_EQ(prompter.messages, std::vector<QString>{"cannot write " + pipe +
                                                    ": it is a FIFO (named pipe), not a regular "
                                                    "file"});
  struct stat status {};
  ASSERT_EQ(::lstat(QFile::encodeName(pipe).constData(), &status), 0);
  EXPECT_TRUE(S_ISFIFO(status.st_mode));
  EXPECT_TRUE(network.Sent().empty());
}

}  // namespace
}  // namespace oxlo::ui
