// The Qt serial backend on a pseudo-terminal whose master side the test holds itself.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <termios.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform/ComPorts.h"
#include "platform/QtSerialPort.h"

namespace dpx::platform {
namespace {

// A pseudo-terminal master; the slave path is what the port opens.
class Pty {
public:
    Pty() {
        fd_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        EXPECT_GE(fd_, 0);
        EXPECT_EQ(::grantpt(fd_), 0);
        EXPECT_EQ(::unlockpt(fd_), 0);
        path_ = ::ptsname(fd_);
    }
    ~Pty() { Close(); }
    void Close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    const std::string& path() const { return path_; }
    int fd() const { return fd_; }
    void Send(const std::vector<uint8_t>& bytes) {
        ASSERT_EQ(::write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Reads what has arrived within `ms` (waits only while nothing came).
    std::vector<uint8_t> Receive(int ms = 1000) {
        std::vector<uint8_t> out;
        pollfd p{fd_, POLLIN, 0};
        while (::poll(&p, 1, out.empty() ? ms : 20) > 0 && (p.revents & POLLIN)) {
            uint8_t buf[64];
            ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n <= 0) break;
            out.insert(out.end(), buf, buf + n);
        }
        return out;
    }

private:
    int fd_ = -1;
    std::string path_;
};

QCoreApplication& App() {
    static int argc = 1;
    static char name[] = "integration_qt_serial_port";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

class QtSerialPortOnPty : public ::testing::Test {
protected:
    void SetUp() override { App(); }
    bool OpenAndConfigure(QtSerialPort& port) {
        return port.Open() && port.ReadLineSettings() && port.ApplyLineSettings() &&
               port.ApplyTimeouts();
    }
};

TEST(ComDeviceName, EnvironmentThenSavedMapThenDefault) {
    App();
    QTemporaryDir config;  // never the real user's map
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config.path());
    ::unsetenv("DPX20_COM3");
    EXPECT_EQ(ComDeviceName(1), "/dev/ttyS0");
    EXPECT_EQ(ComDeviceName(3), "/dev/ttyS2");
    SaveComDevice(3, "/dev/serial/by-id/usb-adapter-if00-port0");
    EXPECT_EQ(ComDeviceName(3), "/dev/serial/by-id/usb-adapter-if00-port0");
    EXPECT_EQ(ComDeviceName(2), "/dev/ttyS1");
    ::setenv("DPX20_COM3", "/dev/ttyUSB0", 1);
    EXPECT_EQ(ComDeviceName(3), "/dev/ttyUSB0");
    ::setenv("DPX20_COM3", "", 1);
    EXPECT_EQ(ComDeviceName(3), "/dev/serial/by-id/usb-adapter-if00-port0");
    SaveComDevice(3, "");
    EXPECT_EQ(ComDeviceName(3), "/dev/ttyS2");
    ::unsetenv("DPX20_COM3");
}

TEST_F(QtSerialPortOnPty, MissingDeviceNamesTheDevice) {
    QTemporaryDir dir;
    const std::string missing = dir.filePath("nothing").toStdString();
    QtSerialPort port(missing);
    EXPECT_FALSE(port.Open());
    EXPECT_FALSE(port.IsUsable());
    EXPECT_EQ(port.ErrorText(), missing + ": no such device");
    ::setenv("DPX20_COM8", missing.c_str(), 1);
    EXPECT_EQ(DescribeComPort(8), missing + " (not present)");
    ::unsetenv("DPX20_COM8");

    QtSerialPort directory(dir.path().toStdString());
    EXPECT_FALSE(directory.Open());
    EXPECT_EQ(directory.ErrorText(), dir.path().toStdString() + ": not a serial device (a directory)");
    const std::string file = dir.filePath("file").toStdString();
    QFile(QString::fromStdString(file)).open(QIODevice::WriteOnly);
    QtSerialPort plain(file);
    EXPECT_FALSE(plain.Open());
    EXPECT_EQ(plain.ErrorText(), file + ": not a serial device");
}

TEST_F(QtSerialPortOnPty, OpensThroughASymbolicLinkExclusively) {
    Pty pty;
    QTemporaryDir dir;
    const std::string link = dir.filePath("com1").toStdString();
    ASSERT_EQ(::symlink(pty.path().c_str(), link.c_str()), 0);
    QtSerialPort first(link);
    ASSERT_TRUE(OpenAndConfigure(first)) << first.ErrorText();
    EXPECT_TRUE(first.IsUsable());
    EXPECT_EQ(first.OpenedPath(), pty.path());
    EXPECT_TRUE(first.IsPseudoTerminal());
    termios tio{};  // what a pseudo-terminal keeps of the line settings (not the parity)
    ASSERT_EQ(::tcgetattr(pty.fd(), &tio), 0);
    EXPECT_EQ(::cfgetospeed(&tio), B9600);
    EXPECT_EQ(tio.c_cflag & (CSIZE | CSTOPB | CRTSCTS), static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL), 0u);
    ::setenv("DPX20_COM8", link.c_str(), 1);
    EXPECT_EQ(DescribeComPort(8), link + " -> " + pty.path());
    ::unsetenv("DPX20_COM8");

    QtSerialPort second(pty.path());
    EXPECT_FALSE(second.Open());
    // The holder is named from the lock file of the first open: this very process.
    EXPECT_EQ(second.ErrorText().rfind(pty.path() + ": busy: held by another program (process " +
                                       std::to_string(::getpid()) + " ", 0), 0u) << second.ErrorText();
    EXPECT_TRUE(first.IsUsable());
}

// A device another program holds with flock is busy, that holder named from the kernel's
// lock table; a device the port holds refuses the flock of others.
TEST_F(QtSerialPortOnPty, FlockHoldersKeepEachOtherOut) {
    Pty pty;
    const int other = ::open(pty.path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    QtSerialPort port(pty.path());
    EXPECT_FALSE(port.Open());
    EXPECT_FALSE(port.IsUsable());
    EXPECT_EQ(port.ErrorText().rfind(pty.path() + ": busy: held by another program (process " +
                                     std::to_string(::getpid()) + " ", 0), 0u) << port.ErrorText();

    ASSERT_EQ(::flock(other, LOCK_UN), 0);
    ASSERT_TRUE(port.Open()) << port.ErrorText();
    EXPECT_EQ(::flock(other, LOCK_EX | LOCK_NB), -1);
    EXPECT_EQ(errno, EWOULDBLOCK);
    ::close(other);
}

TEST_F(QtSerialPortOnPty, WritesAndReadsEveryByteValue) {
    Pty pty;
    QtSerialPort port(pty.path());
    ASSERT_TRUE(OpenAndConfigure(port)) << port.ErrorText();
    std::vector<uint8_t> frame = {'!', '0', '0', 'A', 'D', 'J', 'P', 'X', '0', 0x0D, 0x0D};
    EXPECT_EQ(port.Write(frame.data(), 11), 11u);
    EXPECT_EQ(pty.Receive(), frame);

    std::vector<uint8_t> all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<uint8_t>(b));
    EXPECT_EQ(port.Write(all.data(), 256), 256u);
    std::vector<uint8_t> got;
    while (got.size() < all.size()) {
        auto more = pty.Receive();
        if (more.empty()) break;
        got.insert(got.end(), more.begin(), more.end());
    }
    EXPECT_EQ(got, all);  // raw mode: no CR/LF translation, no flow-control bytes eaten

    pty.Send(all);
    uint32_t errors = 1, queued = 0;
    ASSERT_TRUE(port.ClearError(&errors, &queued, 1000));
    EXPECT_EQ(errors, 0u);
    EXPECT_GT(queued, 0u);
    std::vector<uint8_t> read;
    uint8_t byte;
    while (read.size() < all.size() && port.ReadByte(&byte) == 1) read.push_back(byte);
    EXPECT_EQ(read, all);
}

TEST_F(QtSerialPortOnPty, EmptyQueueReadsNothingWithinTheLimits) {
    Pty pty;
    QtSerialPort port(pty.path());
    ASSERT_TRUE(OpenAndConfigure(port)) << port.ErrorText();
    uint32_t errors = 0, queued = 7;
    EXPECT_TRUE(port.ClearError(&errors, &queued, 0));
    EXPECT_EQ(queued, 0u);
    EXPECT_TRUE(port.ClearError(&errors, &queued, 30));
    EXPECT_EQ(queued, 0u);
    uint8_t byte = 0x55;
    EXPECT_EQ(port.ReadByte(&byte), 0u);
    EXPECT_EQ(byte, 0x55);
    EXPECT_TRUE(port.IsUsable());
}

TEST_F(QtSerialPortOnPty, PurgeDiscardsWhatArrived) {
    Pty pty;
    QtSerialPort port(pty.path());
    ASSERT_TRUE(OpenAndConfigure(port)) << port.ErrorText();
    pty.Send({'l', 'a', 't', 'e'});
    uint32_t errors, queued = 0;
    ASSERT_TRUE(port.ClearError(&errors, &queued, 1000));  // now in Qt's own buffer
    ASSERT_GT(queued, 0u);
    ::usleep(20000);  // let the rest reach the device's queue as well
    EXPECT_TRUE(port.Purge());
    EXPECT_TRUE(port.ClearError(&errors, &queued, 0));
    EXPECT_EQ(queued, 0u);
    pty.Send({'n'});
    uint8_t byte = 0;
    ASSERT_EQ(port.ReadByte(&byte), 1u);
    EXPECT_EQ(byte, 'n');
}

TEST_F(QtSerialPortOnPty, OtherSideClosedMeansGoneUntilReopened) {
    QTemporaryDir dir;
    const std::string link = dir.filePath("com1").toStdString();
    auto pty = std::make_unique<Pty>();
    ASSERT_EQ(::symlink(pty->path().c_str(), link.c_str()), 0);
    QtSerialPort port(link);
    ASSERT_TRUE(OpenAndConfigure(port)) << port.ErrorText();

    pty->Close();
    uint32_t errors, queued;
    uint8_t byte;
    const uint8_t frame[11] = {'!', '0', '0', 'I', 'N', 'P', 'U', 'T', '0', '0', '\r'};
    // Whichever call meets the hang-up first, the port ends up unusable and stays so.
    port.ClearError(&errors, &queued, 50);
    port.ReadByte(&byte);
    port.Write(frame, 11);
    EXPECT_FALSE(port.IsUsable());
    EXPECT_NE(port.ErrorText().find("device gone"), std::string::npos) << port.ErrorText();
    EXPECT_FALSE(port.ClearError(&errors, &queued, 50));
    EXPECT_EQ(port.Write(frame, 11), 0u);
    EXPECT_EQ(port.ReadByte(&byte), 0u);

    pty = std::make_unique<Pty>();  // the device comes back under the same name
    ASSERT_EQ(::unlink(link.c_str()), 0);
    ASSERT_EQ(::symlink(pty->path().c_str(), link.c_str()), 0);
    ASSERT_TRUE(OpenAndConfigure(port)) << port.ErrorText();
    EXPECT_EQ(port.OpenedPath(), pty->path());
    EXPECT_EQ(port.Write(frame, 11), 11u);
    EXPECT_EQ(pty->Receive().size(), 11u);
}

}  // namespace
}  // namespace dpx::platform
