// Choosing the device of a COM number in the panel, and the cause of a port failure as the
// detail of the panel's unchanged notices, with the real serial backend.
#include <QLabel>
#include <QSettings>
#include <QHeaderView>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

#include "app/ComDeviceDialog.h"
#include "platform/ComPorts.h"
#include "platform/QtSerialPort.h"
#include "tests/ui/panel_fixture.h"

namespace dpx::test {
namespace {

const char kConnectError[] = "Connect error! : 3 times retry, but cannot connect.";

class ComDeviceTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        ASSERT_TRUE(config_.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config_.path());  // never the user's map
        link_.SetPortFactory(platform::MakePortFactory(), platform::ComDeviceName);
        clock_.auto_advance = 40;  // the real port waits in real time; the clock must move too
        ::unsetenv("DPX20_COM1");
    }
    void TearDown() override {
        ::unsetenv("DPX20_COM1");
        PanelTest::TearDown();
        platform::SaveComDevice(1, "");
        platform::SaveComDevice(2, "");
    }
    // CONNECT on COM1 = `device`; returns the details recorded with each message.
    void ConnectTo(const std::string& device, int debug_mode = 0) {
        ::setenv("DPX20_COM1", device.c_str(), 1);
        SettingsRecord r;
        r.debug_mode = debug_mode;
        WriteOptions(r);
        Start();
        messages_.texts.clear();
        messages_.details.clear();
        Click(panel::kConnect);
        EXPECT_FALSE(Wanted());
    }
    QTemporaryDir config_;
};

TEST_F(ComDeviceTest, DialogListsThePortsAndSavesTheChoice) {
    std::vector<platform::SerialPortEntry> ports = {
        {"/dev/ttyUSB0", "USB-Serial Controller", "Prolific", "A1B2", "/dev/serial/by-id/usb-Prolific-if00-port0"},
        {"/dev/ttyS0", "", "", "", ""}};
    ComDeviceDialog dialog(2, [&] { return ports; });
    EXPECT_EQ(dialog.windowTitle(), "COM 2 device");
    QTreeWidget* list = dialog.port_list();
    ASSERT_EQ(list->topLevelItemCount(), 2);
    EXPECT_EQ(list->topLevelItem(0)->text(0), "/dev/ttyUSB0");
    EXPECT_EQ(list->topLevelItem(0)->text(2), "Prolific");
    EXPECT_EQ(list->topLevelItem(0)->text(3), "A1B2");

    // An adapter is kept by its stable name; a port without one by its device.
    list->setCurrentItem(list->topLevelItem(0));
    EXPECT_EQ(dialog.name_field()->text(), "/dev/serial/by-id/usb-Prolific-if00-port0");
    list->setCurrentItem(list->topLevelItem(1));
    EXPECT_EQ(dialog.name_field()->text(), "/dev/ttyS0");

    // A name CheckPortName refuses keeps the dialog open and saves nothing.
    dialog.name_field()->setText("");
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_FALSE(dialog.problem_label()->text().isEmpty());
    EXPECT_EQ(platform::ComDeviceName(2), "/dev/ttyS1");

    dialog.name_field()->setText("/dev/ttyACM3");
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(platform::ComDeviceName(2), "/dev/ttyACM3");

    // "Refresh" lists the ports again and leaves the field alone.
    ports.pop_back();
    dialog.Refresh();
    EXPECT_EQ(list->topLevelItemCount(), 1);
    EXPECT_EQ(dialog.name_field()->text(), "/dev/ttyACM3");

    // The next one opens with the saved name and at the size the last one was left.
    const QSize left = dialog.size() + QSize(40, 30);
    dialog.resize(left);
    dialog.reject();
    ComDeviceDialog again(2, [] { return std::vector<platform::SerialPortEntry>{}; });
    EXPECT_EQ(again.name_field()->text(), "/dev/ttyACM3");
    EXPECT_EQ(again.size(), left);
    again.ChooseDefault();
    EXPECT_EQ(platform::ComDeviceName(2), "/dev/ttyS1");
}

// Opening the dialog and pressing Enter or OK keeps a saved name byte for byte, whatever the
// list offers and wherever the focus goes; the list shows every column in full.
TEST_F(ComDeviceTest, OkAndEnterKeepTheSavedDevice) {
    const std::vector<platform::SerialPortEntry> ports = {
        {"/dev/ttyS0", "", "", "", ""},
        {"/dev/ttyUSB0", "USB-Serial Controller with a long description", "Some Manufacturer Ltd", "A1B2C3D4",
         "/dev/serial/by-id/usb-Some_Manufacturer_USB-Serial_Controller_A1B2C3D4-if00-port0"}};
    const std::string by_id = ports[1].by_id;
    for (const std::string& saved : {by_id, std::string("rfc2217://[fd00::20]:2217")}) {
        for (const bool enter_in_list : {false, true}) {
            SCOPED_TRACE(saved + (enter_in_list ? " / Enter in the list" : " / OK"));
            platform::SaveComDevice(1, saved);
            ComDeviceDialog dialog(1, [&] { return ports; });
            dialog.show();
            dialog.activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
            QTreeWidget* list = dialog.port_list();
            EXPECT_LE(list->header()->length(), list->viewport()->width());
            if (enter_in_list) {
                list->setFocus(Qt::TabFocusReason);  // the list makes a row current
                QTest::keyClick(list, Qt::Key_Return);
            } else {
                QTest::keyClick(dialog.name_field(), Qt::Key_Return);
            }
            EXPECT_EQ(dialog.result(), QDialog::Accepted);
            EXPECT_EQ(platform::SavedComDevice(1), saved);
        }
    }
}

// Right-click on a COM radio opens the dialog; the change shows in the tool tip and is
// opened at the next CONNECT, while the link is disconnected.
TEST_F(ComDeviceTest, RightClickChangesTheDeviceOfTheNextConnect) {
    WriteOptions(SettingsRecord{});
    Start();
    QTemporaryDir dir;
    const std::string missing = dir.filePath("adapter").toStdString();
    bool ran = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<ComDeviceDialog*>(QApplication::activeModalWidget());
        if (!dialog) return;
        ran = true;
        dialog->name_field()->setText(QString::fromStdString(missing));
        dialog->accept();
    });
    QWidget* radio = Button(panel::ComPortRadio(1));
    emit radio->customContextMenuRequested({2, 2});
    ASSERT_TRUE(ran);
    EXPECT_EQ(radio->toolTip().toStdString().rfind(missing + " (not present)\n", 0), 0u);

    Click(panel::kConnect);
    ASSERT_EQ(messages_.texts.back(), kConnectError);
    EXPECT_EQ(messages_.details.back(), missing + ": no such device");
}

TEST_F(ComDeviceTest, EachCauseIsTheDetailOfTheConnectError) {
    QTemporaryDir dir;
    const std::string missing = dir.filePath("nothing").toStdString();
    ConnectTo(missing, 1);  // debug mode: the open failure's own notice carries it too
    ASSERT_GE(messages_.texts.size(), 2u);
    EXPECT_EQ(messages_.texts[0], "Create COM1 port NG! handle = FFFFFFFF.");
    EXPECT_EQ(messages_.details[0], missing + ": no such device");
    EXPECT_EQ(messages_.texts.back(), kConnectError);
    EXPECT_EQ(messages_.details.back(), missing + ": no such device");
    panel_.reset();

    ConnectTo(dir.path().toStdString());
    EXPECT_EQ(messages_.texts, std::vector<std::string>{kConnectError});
    EXPECT_EQ(messages_.details.back(), dir.path().toStdString() + ": not a serial device (a directory)");
    panel_.reset();

    // A pseudo-terminal that nobody answers on; then held by another port of this process.
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string pty = ::ptsname(master);
    ConnectTo(pty);
    EXPECT_EQ(messages_.texts, std::vector<std::string>{kConnectError});
    EXPECT_EQ(messages_.details.back(), pty + ": the box did not answer within 100 ms");
    panel_.reset();

    link_.ClosePorts();
    platform::QtSerialPort holder(pty);
    ASSERT_TRUE(holder.Open()) << holder.ErrorText();
    ConnectTo(pty);
    EXPECT_EQ(messages_.texts, std::vector<std::string>{kConnectError});
    EXPECT_EQ(messages_.details.back().rfind(pty + ": busy: held by another program (process " +
                                             std::to_string(::getpid()), 0), 0u) << messages_.details.back();
    ::close(master);
}

}  // namespace
}  // namespace dpx::test
