#include "platform/QtSerialPort.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QtGlobal>

#include "platform/SerialDevice.h"

#ifndef Q_OS_WIN
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#endif

namespace dpx::platform {
namespace {

bool IsIoError(QSerialPort::SerialPortError e) {
    return e == QSerialPort::ReadError || e == QSerialPort::WriteError ||
           e == QSerialPort::ResourceError;
}

#ifndef Q_OS_WIN
// Why an existing device could not be opened: permission or another holder.
std::string OpenRefusal(const std::string& path) {
    if (::access(path.c_str(), R_OK | W_OK) != 0 && errno == EACCES)
        return std::string("permission denied: ") + kDialoutAdvice;
    return BusyText(path);
}

// Why `path` is no serial device at all, or empty when it may be one.
std::string NotADevice(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || S_ISCHR(st.st_mode)) return {};
    return S_ISDIR(st.st_mode) ? "not a serial device (a directory)" : "not a serial device";
}
#endif

}  // namespace

QtSerialPort::QtSerialPort(std::string device) : device_(std::move(device)) {
    // Between the link's calls Qt reads the device from the event loop, and a device that
    // went away shows there as a read error (a hung-up line stays readable, so Qt would
    // read it again and again). The port is closed from the event loop afterwards, not from
    // inside Qt's signal.
    QObject::connect(&port_, &QSerialPort::errorOccurred, &port_, [this](QSerialPort::SerialPortError e) {
        if (!IsIoError(e) || notice_pending_) return;
        notice_pending_ = true;
        QMetaObject::invokeMethod(&port_, [this] { NoticeGone(); }, Qt::QueuedConnection);
    });
}

void QtSerialPort::NoticeGone() {
    notice_pending_ = false;
    // Closed already (a call of the link met the error first), or the error is gone.
    if (!IsUsable() || CheckIo("read")) return;
    ReportGone();
}

QtSerialPort::~QtSerialPort() {
    if (port_.isOpen()) port_.close();
}

void QtSerialPort::Fail(const std::string& reason) { error_ = device_ + ": " + reason; }

bool QtSerialPort::Open() {
    if (port_.isOpen()) port_.close();  // a gone device is opened afresh
    gone_ = false;
    error_.clear();
    std::string path = device_;
#ifndef Q_OS_WIN
    // Open the real device behind a symbolic link (/dev/serial/by-id/...), so that the
    // lock and the pseudo-terminal check see its own name; resolved anew on every open.
    const QFileInfo info(QString::fromStdString(device_));
    if (!info.exists()) {
        Fail(info.isSymLink() ? "no such device (the link leads nowhere)" : "no such device");
        return false;
    }
    path = info.canonicalFilePath().toStdString();
    if (const std::string why = NotADevice(path); !why.empty()) {
        Fail(why);
        return false;
    }
    pseudo_terminal_ = path.rfind("/dev/pts/", 0) == 0;
#endif
    opened_path_ = path;
    port_.setPortName(QString::fromStdString(path));
    if (port_.open(QIODevice::ReadWrite)) {
        port_.clearError();
#ifndef Q_OS_WIN
        if (const std::string why = LockDevice(static_cast<int>(port_.handle()), path); !why.empty()) {
            port_.close();
            Fail(why);
            return false;
        }
#endif
        return true;
    }
    switch (port_.error()) {
        case QSerialPort::DeviceNotFoundError: Fail("no such device"); break;
#ifndef Q_OS_WIN
        case QSerialPort::PermissionError: Fail(OpenRefusal(path)); break;
#else
        case QSerialPort::PermissionError: Fail("access denied or busy (held by another program)"); break;
#endif
        case QSerialPort::OpenError: Fail("busy (already open)"); break;
        default: Fail(port_.errorString().toStdString()); break;
    }
    port_.clearError();
    return false;
}

void QtSerialPort::Close() {
    if (port_.isOpen()) port_.close();
}

bool QtSerialPort::ApplyLineSettings() {
    if (!IsUsable()) return false;
    const bool line = port_.setBaudRate(QSerialPort::Baud9600) &&
                      port_.setDataBits(QSerialPort::Data8) &&
                      port_.setParity(QSerialPort::OddParity) &&
                      port_.setStopBits(QSerialPort::OneStop) &&
                      port_.setFlowControl(QSerialPort::NoFlowControl);
    const bool dtr = port_.setDataTerminalReady(true);
    const std::string why = port_.errorString().toStdString();
    port_.clearError();
    // A pseudo-terminal has no line: it takes or ignores the settings and has no DTR.
    if (pseudo_terminal_) return true;
    if (line && dtr) return true;
    Fail(std::string("cannot apply 9600 8O1") + (line ? " DTR" : "") + " (" + why + ")");
    return false;
}

bool QtSerialPort::IsUsable() const { return port_.isOpen() && !gone_; }

bool QtSerialPort::CheckIo(const char* what) {
    const QSerialPort::SerialPortError e = port_.error();
    if (e == QSerialPort::NoError) return true;
    if (!IsIoError(e)) {  // a time-out is the normal end of a wait
        port_.clearError();
        return true;
    }
    gone_ = true;
    std::string why = port_.errorString().toStdString();
#ifndef Q_OS_WIN
    // A read that met a hang-up returned nothing and set no error: Qt's text is stale.
    if (e == QSerialPort::ReadError && HungUp(static_cast<int>(port_.handle()))) why = "hang-up";
#endif
    Fail(std::string("device gone (") + what + " error: " + why + ")");
    port_.clearError();
    port_.close();  // release the device so that it can be opened again
    return false;
}

bool QtSerialPort::Purge() {
    if (!IsUsable()) return false;
    const bool ok = port_.clear(QSerialPort::AllDirections);
    return CheckIo("purge") && ok;
}

bool QtSerialPort::ClearError(uint32_t* errors, uint32_t* queued, uint32_t wait_ms) {
    if (errors) *errors = 0;  // Qt reports no framing or parity errors
    if (queued) *queued = 0;
    if (!IsUsable()) return false;
    // bytesAvailable() counts only what Qt has fetched; a wait of 0 still polls the device.
    if (port_.bytesAvailable() == 0) {
        port_.waitForReadyRead(static_cast<int>(wait_ms));
        if (!CheckIo("read")) return false;
    }
    if (queued) *queued = static_cast<uint32_t>(port_.bytesAvailable());
    return true;
}

uint32_t QtSerialPort::Write(const uint8_t* data, uint32_t n) {
    if (!IsUsable() || n == 0) return 0;
    if (port_.write(reinterpret_cast<const char*>(data), n) != static_cast<qint64>(n)) {
        CheckIo("write");
        port_.clear(QSerialPort::Output);
        return 0;
    }
    QDeadlineTimer deadline(static_cast<qint64>(kPortTimeouts.WriteTotalMs(n)));
    qint64 left = port_.bytesToWrite();
    while (left > 0 && !deadline.hasExpired()) {
        port_.waitForBytesWritten(static_cast<int>(deadline.remainingTime()));
        left = port_.bytesToWrite();
        if (!CheckIo("write")) return n - static_cast<uint32_t>(left);
    }
    if (left > 0) port_.clear(QSerialPort::Output);  // a timed-out write sends no more
    return n - static_cast<uint32_t>(left);
}

uint32_t QtSerialPort::ReadByte(uint8_t* byte) {
    if (!IsUsable()) return 0;
    QDeadlineTimer deadline(static_cast<qint64>(kPortTimeouts.ReadTotalMs(1)));
    while (port_.bytesAvailable() == 0) {
        if (deadline.hasExpired()) return 0;
        port_.waitForReadyRead(static_cast<int>(deadline.remainingTime()));
        if (!CheckIo("read")) return 0;
    }
    char c;
    if (port_.read(&c, 1) != 1) return 0;
    *byte = static_cast<uint8_t>(c);
    return 1;
}

}  // namespace dpx::platform
