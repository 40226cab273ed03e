#pragma once
// The link's SerialPort over Qt Serial Port, for real COM devices and pseudo-terminals.
// No event loop runs during the link's calls, so every wait uses Qt's waitFor* functions
// and is bounded by the port time-outs. A read or write error of an open port (a USB
// adapter pulled out, a pseudo-terminal whose other side closed) marks the device as gone
// and closes it: IsUsable() is then false and the next Open() tries the device again.
// Between the link's calls Qt's error signal finds it, and the port tells its gone
// handler. On POSIX systems an open device is held exclusively (SerialDevice.h).
#include <QSerialPort>
#include <cstdint>
#include <string>

#include "link/SerialPort.h"

namespace dpx::platform {

// What an operator without permission on a serial device does on Linux.
inline constexpr char kDialoutAdvice[] = "add the user to the dialout group, then log in again";

class QtSerialPort final : public SerialPort {
public:
    // `device` is a path ("/dev/ttyUSB0", a symbolic link to one) or, on Windows, "COMn".
    explicit QtSerialPort(std::string device);
    ~QtSerialPort() override;

    bool Open() override;
    bool ApplyLineSettings() override;
    bool IsUsable() const override;
    bool Purge() override;
    bool ClearError(uint32_t* errors, uint32_t* queued, uint32_t wait_ms) override;
    uint32_t Write(const uint8_t* data, uint32_t n) override;
    uint32_t ReadByte(uint8_t* byte) override;
    std::string DeviceName() const override { return device_; }
    std::string ErrorText() const override { return error_; }
    void Close() override;

    // The device actually opened (symbolic links resolved); empty before the first open.
    std::string OpenedPath() const { return opened_path_; }
    // True when the opened device is a pseudo-terminal, which ignores the line settings.
    bool IsPseudoTerminal() const { return pseudo_terminal_; }

private:
    // Marks the device gone after a read or write error; false if so.
    bool CheckIo(const char* what);
    void Fail(const std::string& reason);
    // Qt reported an I/O error between the link's calls (queued from its signal).
    void NoticeGone();

    std::string device_;
    std::string opened_path_;
    std::string error_;
    QSerialPort port_;
    bool gone_ = false;
    bool notice_pending_ = false;
    bool pseudo_terminal_ = false;
};

}  // namespace dpx::platform
