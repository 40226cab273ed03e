#include "platform/QtSerialPort.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QtGlobal>

#ifndef Q_OS_WIN
#include <QDir>
#include <QFile>
#include <QSerialPortInfo>
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
// The first line of a small text file, trimmed; empty if it cannot be read.
std::string FirstLine(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromLocal8Bit(file.readLine(256)).trimmed().toStdString();
}

// The process holding `path`: the one its UUCP lock file names (where Qt Serial Port and
// other serial programs put it), else one that has it open; 0 when the system does not say.
long HolderPid(const std::string& path) {
    QString lock_name = QSerialPortInfo(QString::fromStdString(path)).portName();
    lock_name.replace(u'/', u'_');
    for (const char* dir : {"/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp", "/tmp",
                            "/var/tmp", "/var/lock/lockdev", "/run/lock"}) {
        bool ok = false;
        const long pid = QString::fromStdString(FirstLine(QString::fromLatin1(dir) + "/LCK.." + lock_name))
                             .toLong(&ok);
        if (ok && pid > 0) return pid;
    }
    const QString target = QString::fromStdString(path);
    const QDir proc(QStringLiteral("/proc"));
    for (const QString& pid : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QDir fds(proc.filePath(pid + QStringLiteral("/fd")));
        for (const QFileInfo& fd : fds.entryInfoList(QDir::System | QDir::NoDotAndDotDot))
            if (fd.symLinkTarget() == target) return pid.toLong();
    }
    return 0;
}

// Why an existing device could not be opened: permission or another holder.
std::string OpenRefusal(const std::string& path) {
    if (::access(path.c_str(), R_OK | W_OK) != 0 && errno == EACCES)
        return std::string("permission denied: ") + kDialoutAdvice;
    std::string why = "busy: held by another program";
    if (const long pid = HolderPid(path)) {
        const std::string name = FirstLine(QStringLiteral("/proc/%1/comm").arg(pid));
        why += " (process " + std::to_string(pid) + (name.empty() ? "" : " " + name) + ")";
    }
    return why;
}

// Why `path` is no serial device at all, or empty when it may be one.
std::string NotADevice(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || S_ISCHR(st.st_mode)) return {};
    return S_ISDIR(st.st_mode) ? "not a serial device (a directory)" : "not a serial device";
}
#endif

}  // namespace

QtSerialPort::QtSerialPort(std::string device) : device_(std::move(device)) {}

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

bool QtSerialPort::ReadLineSettings() {
    if (!IsUsable()) return false;
    // Qt keeps the line settings itself; reading them only needs an open port.
    (void)port_.baudRate();
    return true;
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

bool QtSerialPort::ApplyTimeouts() {
    read_total_ms_ = 10 * 1 + 300;
    write_per_byte_ms_ = 10;
    write_constant_ms_ = 20;
    return IsUsable();
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
    Fail(std::string("device gone (") + what + " error: " + port_.errorString().toStdString() + ")");
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
    QDeadlineTimer deadline(static_cast<qint64>(write_per_byte_ms_) * n + write_constant_ms_);
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
    QDeadlineTimer deadline(read_total_ms_);
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
