#include "platform/TcpSerialPort.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QHostInfo>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

namespace dpx::platform {
namespace {

using Codec = TelnetCodec;

// The addresses of `host` within the open limit. The system's name lookup has no limit of
// its own, so it runs on a thread of its own that is left behind if it takes too long.
bool Lookup(const std::string& host, QHostAddress* address, std::string* why) {
    if (address->setAddress(QString::fromStdString(host))) return true;
    auto task = std::make_shared<std::packaged_task<QHostInfo()>>(
        [name = QString::fromStdString(host)] { return QHostInfo::fromName(name); });
    std::future<QHostInfo> result = task->get_future();
    std::thread([task] { (*task)(); }).detach();
    if (result.wait_for(std::chrono::milliseconds(TcpSerialPort::kOpenLimitMs)) != std::future_status::ready) {
        *why = "unknown host (no answer from the name service within 2 s)";
        return false;
    }
    const QHostInfo info = result.get();
    if (info.error() != QHostInfo::NoError || info.addresses().isEmpty()) {
        *why = "unknown host (" + info.errorString().toStdString() + ")";
        return false;
    }
    *address = info.addresses().first();
    return true;
}

std::string ConnectFailure(const QTcpSocket& socket) {
    switch (socket.error()) {
        case QAbstractSocket::ConnectionRefusedError: return "connection refused (no server on that port)";
        case QAbstractSocket::SocketTimeoutError: return "no answer within 2 s";
        case QAbstractSocket::HostNotFoundError: return "unknown host";
        default: return socket.errorString().toStdString();
    }
}

}  // namespace

TcpSerialPort::TcpSerialPort(std::string name, Mode mode, std::string host, uint16_t port)
    : name_(std::move(name)), mode_(mode), host_(std::move(host)), port_(port) {
    // Between the link's calls the event loop learns that the server closed the connection;
    // queued, so that it is never handled inside a wait of the link's calls.
    QObject::connect(&socket_, &QAbstractSocket::disconnected, &socket_, [this] { NoticeGone(); },
                     Qt::QueuedConnection);
}

void TcpSerialPort::NoticeGone() {
    if (!watching_ || IsUsable()) return;  // found by a call of the link, closed by us, or open again
    Gone("while idle");
    ReportGone();
}

TcpSerialPort::~TcpSerialPort() { socket_.abort(); }

void TcpSerialPort::Fail(const std::string& reason) { error_ = name_ + ": " + reason; }

void TcpSerialPort::Gone(const char* what) {
    gone_ = true;
    watching_ = false;
    Fail(std::string("connection lost (") + what + ": " + socket_.errorString().toStdString() + ")");
    socket_.abort();
}

bool TcpSerialPort::Open() {
    watching_ = false;
    socket_.abort();  // a lost connection is made afresh
    codec_.Reset();
    received_.clear();
    gone_ = false;
    error_.clear();
    if (port_ == 0) {
        Fail("not a valid network port name (socket://HOST:PORT or rfc2217://HOST:PORT)");
        return false;
    }
    QHostAddress address;
    std::string why;
    if (!Lookup(host_, &address, &why)) {
        Fail(why);
        return false;
    }
    socket_.connectToHost(address, port_);
    if (!socket_.waitForConnected(kOpenLimitMs)) {
        Fail(ConnectFailure(socket_));
        socket_.abort();
        return false;
    }
    // Frames are short and each waits for its reply: send them at once.
    socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    watching_ = true;
    if (mode_ == Mode::kRaw) return true;
    if (!Send(Codec::Start())) return false;
    if (!AwaitServer([this] { return codec_.ComPort() != Codec::Option::kPending; })) {
        if (!gone_) Fail("no answer to the offer of the COM-PORT-OPTION (RFC 2217) within 2 s");
        watching_ = false;
        socket_.abort();
        return false;
    }
    if (codec_.ComPort() == Codec::Option::kRefused) {
        Fail("the server refuses the COM-PORT-OPTION (RFC 2217), so the line settings cannot be set");
        watching_ = false;
        socket_.abort();
        return false;
    }
    return true;
}

bool TcpSerialPort::ReadLineSettings() { return IsUsable(); }

bool TcpSerialPort::ApplyLineSettings() {
    if (!IsUsable()) return false;
    if (mode_ == Mode::kRaw) return true;  // the server's own settings apply
    constexpr uint32_t kBaud = 9600;
    constexpr uint8_t kDataBits = 8;
    const uint8_t settings[] = {Codec::kSetBaudRate, Codec::kSetDataSize, Codec::kSetParity, Codec::kSetStopSize,
                                Codec::kSetControl};
    for (uint8_t command : settings) codec_.Forget(command);
    Codec::Bytes out = Codec::SetBaudRate(kBaud);
    for (const Codec::Bytes& command :
         {Codec::Command(Codec::kSetDataSize, kDataBits), Codec::Command(Codec::kSetParity, Codec::kParityOdd),
          Codec::Command(Codec::kSetStopSize, Codec::kStopOne),
          Codec::Command(Codec::kSetControl, Codec::kControlNoFlow),
          Codec::Command(Codec::kSetControl, Codec::kControlDtrOn)})
        out.insert(out.end(), command.begin(), command.end());
    if (!Send(out)) return false;
    // The line settings must be answered as asked. SET-CONTROL is only waited for: a
    // server whose port has no modem lines (a pseudo-terminal) answers DTR on not at all.
    const bool answered = AwaitServer([&] {
        for (uint8_t command : settings)
            if (!codec_.Answer(command)) return false;
        return true;
    });
    if (!answered) {
        if (!gone_) Fail("no answer to the line settings within 2 s");
        return false;
    }
    const uint32_t baud = *codec_.Answer(Codec::kSetBaudRate);
    const uint32_t data_bits = *codec_.Answer(Codec::kSetDataSize);
    const uint32_t parity = *codec_.Answer(Codec::kSetParity);
    const uint32_t stop_bits = *codec_.Answer(Codec::kSetStopSize);
    if (baud == kBaud && data_bits == kDataBits && parity == Codec::kParityOdd && stop_bits == Codec::kStopOne)
        return true;
    static constexpr const char* kParity[] = {"?", "N", "O", "E", "M", "S"};
    Fail("the server set " + std::to_string(baud) + " baud " + std::to_string(data_bits) +
         (parity < 6 ? kParity[parity] : "?") + std::to_string(stop_bits) + " instead of 9600 8O1");
    return false;
}

bool TcpSerialPort::ApplyTimeouts() {
    read_total_ms_ = 10 * 1 + 300;
    write_per_byte_ms_ = 10;
    write_constant_ms_ = 20;
    return IsUsable();
}

bool TcpSerialPort::IsUsable() const { return !gone_ && socket_.state() == QAbstractSocket::ConnectedState; }

bool TcpSerialPort::Send(const TelnetCodec::Bytes& bytes) {
    if (!IsUsable()) return false;
    if (socket_.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size())) !=
        static_cast<qint64>(bytes.size())) {
        Gone("write");
        return false;
    }
    socket_.flush();
    return true;
}

bool TcpSerialPort::Pump(int wait_ms) {
    if (socket_.bytesAvailable() == 0 && !socket_.waitForReadyRead(wait_ms) &&
        socket_.error() != QAbstractSocket::SocketTimeoutError && socket_.bytesAvailable() == 0) {
        Gone("read");
        return false;
    }
    if (socket_.bytesAvailable() > 0) {
        const QByteArray in = socket_.readAll();
        const auto* bytes = reinterpret_cast<const uint8_t*>(in.constData());
        if (mode_ == Mode::kRaw) {
            received_.insert(received_.end(), bytes, bytes + in.size());
        } else {
            Codec::Bytes data, answer;
            codec_.Feed(bytes, static_cast<size_t>(in.size()), &data, &answer);
            received_.insert(received_.end(), data.begin(), data.end());
            if (!answer.empty() && !Send(answer)) return false;
        }
    }
    // Bytes that came with a close are taken above; then the connection counts as gone.
    if (!IsUsable()) {
        if (!gone_) Gone("read");
        return false;
    }
    return true;
}

bool TcpSerialPort::AwaitData(int wait_ms) {
    QDeadlineTimer deadline(wait_ms);
    do {
        if (!Pump(static_cast<int>(deadline.remainingTime()))) return false;
    } while (received_.empty() && !deadline.hasExpired());
    return true;
}

template <typename Done>
bool TcpSerialPort::AwaitServer(Done done) {
    QDeadlineTimer deadline(kOpenLimitMs);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        // A server may close right after its answer; the answer still counts.
        if (!Pump(static_cast<int>(deadline.remainingTime()))) return done();
    }
    return true;
}

bool TcpSerialPort::Purge() {
    if (!IsUsable()) return false;
    const bool ok = Pump(0);  // what has come so far is discarded, commands still count
    received_.clear();
    if (!ok) return false;
    if (mode_ == Mode::kRaw) return true;
    return Send(Codec::Command(Codec::kPurgeData, Codec::kPurgeBoth));
}

bool TcpSerialPort::ClearError(uint32_t* errors, uint32_t* queued, uint32_t wait_ms) {
    if (errors) *errors = 0;  // the network carries no framing or parity errors
    if (queued) *queued = 0;
    if (!IsUsable()) return false;
    if (received_.empty() && !AwaitData(static_cast<int>(wait_ms))) return false;
    if (queued) *queued = static_cast<uint32_t>(received_.size());
    return true;
}

uint32_t TcpSerialPort::Write(const uint8_t* data, uint32_t n) {
    if (!IsUsable() || n == 0) return 0;
    if (!Send(mode_ == Mode::kRaw ? Codec::Bytes(data, data + n) : Codec::EncodeData(data, n))) return 0;
    QDeadlineTimer deadline(static_cast<qint64>(write_per_byte_ms_) * n + write_constant_ms_);
    while (socket_.bytesToWrite() > 0 && !deadline.hasExpired()) {
        if (!socket_.waitForBytesWritten(static_cast<int>(deadline.remainingTime())) &&
            socket_.error() != QAbstractSocket::SocketTimeoutError) {
            Gone("write");
            return 0;
        }
    }
    return socket_.bytesToWrite() == 0 ? n : 0;
}

uint32_t TcpSerialPort::ReadByte(uint8_t* byte) {
    if (received_.empty() && !AwaitData(static_cast<int>(read_total_ms_))) return 0;
    if (received_.empty()) return 0;
    *byte = received_.front();
    received_.pop_front();
    return 1;
}

}  // namespace dpx::platform
