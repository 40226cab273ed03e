#include "platform/TcpSerialPort.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QHostInfo>
#include <algorithm>
#include <chrono>
#include <future>
#include <memory>
#include <thread>
#include <vector>

namespace dpx::platform {
namespace {

using Codec = TelnetCodec;

// The last data bytes received are kept up to this many: what a server said before it closed.
constexpr size_t kHeardLimit = 256;

// The addresses of `host` before `deadline`. The system's name lookup has no limit of its
// own, so it runs on a thread of its own that is left behind if it takes too long.
bool Lookup(const std::string& host, const QDeadlineTimer& deadline, QList<QHostAddress>* addresses,
            std::string* why) {
    if (QHostAddress address; address.setAddress(QString::fromStdString(host))) {
        *addresses = {address};
        return true;
    }
    auto task = std::make_shared<std::packaged_task<QHostInfo()>>(
        [name = QString::fromStdString(host)] { return QHostInfo::fromName(name); });
    std::future<QHostInfo> result = task->get_future();
    std::thread([task] { (*task)(); }).detach();
    if (result.wait_for(std::chrono::milliseconds(deadline.remainingTime())) != std::future_status::ready) {
        *why = "unknown host (no answer from the name service within 2 s)";
        return false;
    }
    const QHostInfo info = result.get();
    if (info.error() != QHostInfo::NoError || info.addresses().isEmpty()) {
        *why = "unknown host (" + info.errorString().toStdString() + ")";
        return false;
    }
    *addresses = info.addresses();
    return true;
}

std::string ConnectFailure(const QTcpSocket& socket, int waited_ms) {
    switch (socket.error()) {
        case QAbstractSocket::ConnectionRefusedError: return "connection refused (no server on that port)";
        case QAbstractSocket::SocketTimeoutError:
            return waited_ms >= TcpSerialPort::kOpenLimitMs - 100 ? "no answer within 2 s"
                                                                 : "no answer within " + std::to_string(waited_ms) + " ms";
        case QAbstractSocket::HostNotFoundError: return "unknown host";
        default: return socket.errorString().toStdString();
    }
}

// The lines of text a server sent before it closed ("Port already in use"), joined; lines
// that are not printable text or that start as a box reply does are left out.
std::string ServerWords(const std::string& heard) {
    std::string words, line;
    auto end_line = [&] {
        const size_t first = line.find_first_not_of(' ');
        if (first != std::string::npos && line[first] != '@') {
            const size_t last = line.find_last_not_of(' ');
            words += (words.empty() ? "" : " ") + line.substr(first, last - first + 1);
        }
        line.clear();
    };
    bool printable = true;
    for (char c : heard) {
        if (c == '\r' || c == '\n') {
            if (printable) end_line();
            line.clear();
            printable = true;
        } else if (c >= 0x20 && c < 0x7F) {
            line += c;
        } else {
            printable = false;
        }
    }
    if (printable) end_line();
    return words;
}

// Which way binary transmission is off, and what that does, for the cause of a failure.
std::string BinaryOff(bool to, bool from) {
    return std::string(!to && !from ? "both ways" : !to ? "towards the server" : "from the server") +
           ", so frame and reply bytes 0x0D and 0x80-0xFF could be changed on the way";
}

}  // namespace

TcpSerialPort::TcpSerialPort(std::string name, Mode mode, std::string host, uint16_t port, Options options)
    : name_(std::move(name)), mode_(mode), host_(std::move(host)), port_(port), options_(options) {
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

// The cause names what the server said before it closed: a server that takes one client at
// a time tells a second one that the port is in use, and the operator must be able to tell
// that from a network that dropped.
void TcpSerialPort::Gone(const char* what) {
    gone_ = true;
    watching_ = false;
    const std::string said = ServerWords(heard_);
    const bool closed = socket_.error() == QAbstractSocket::RemoteHostClosedError;
    if (said.find("in use") != std::string::npos) {
        Fail("in use by another client of the server (server said: " + said + ")");
    } else if (!said.empty()) {
        Fail("connection lost (the server closed the connection; server said: " + said + ")");
    } else if (closed) {
        Fail("connection lost (the server closed the connection)");
    } else {
        Fail(std::string("connection lost (") + what + ": " + socket_.errorString().toStdString() + ")");
    }
    socket_.abort();
}

void TcpSerialPort::Broken(const std::string& reason) {
    gone_ = true;
    watching_ = false;
    Fail(reason);
    socket_.abort();
}

void TcpSerialPort::Close() {
    watching_ = false;  // a close of ours is not the server's doing
    socket_.abort();
    received_.clear();
}

bool TcpSerialPort::Connect() {
    const QDeadlineTimer deadline(kOpenLimitMs);
    QList<QHostAddress> addresses;
    std::string why;
    if (!Lookup(host_, deadline, &addresses, &why)) {
        Fail(why);
        return false;
    }
    // Each address gets an equal share of the time left, so that one that does not answer
    // cannot keep the others from being tried.
    std::string failures;
    for (qsizetype i = 0; i < addresses.size(); ++i) {
        const auto share = static_cast<int>(std::max<qint64>(deadline.remainingTime(), 1) / (addresses.size() - i));
        const std::string address = addresses[i].toString().toStdString();
        socket_.connectToHost(addresses[i], port_);
        if (socket_.waitForConnected(share)) {
            Note("connected to " + address + " port " + std::to_string(port_));
            return true;
        }
        why = ConnectFailure(socket_, share);
        socket_.abort();
        Note("cannot connect to " + address + ": " + why);
        failures += (failures.empty() ? "" : "; ") + address + ": " + why;
    }
    Fail(addresses.size() == 1 ? why : "no address of " + host_ + " answered (" + failures + ")");
    return false;
}

bool TcpSerialPort::Open() {
    watching_ = false;
    socket_.abort();  // a lost connection is made afresh
    codec_.Reset();
    received_.clear();
    heard_.clear();
    gone_ = false;
    binary_agreed_ = false;
    error_.clear();
    if (port_ == 0) {
        Fail("not a valid network port name (socket://HOST:PORT or rfc2217://HOST:PORT)");
        return false;
    }
    if (!Connect()) return false;
    // Frames are short and each waits for its reply: send them at once.
    socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    watching_ = true;
    if (mode_ == Mode::kRaw) return true;
    if (!SendCommands(Codec::Start())) return false;
    // Binary transmission both ways, or bytes 0x0D and 0x80-0xFF of frames and replies may
    // be changed on the way; the COM-PORT-OPTION, or the line cannot be set.
    const bool answered = AwaitServer([this] {
        return codec_.ComPort() != Codec::Option::kPending && codec_.BinaryToServer() != Codec::Option::kPending &&
               codec_.BinaryFromServer() != Codec::Option::kPending;
    });
    // A refusal counts even when the server closed before it answered everything.
    const bool to = codec_.BinaryToServer() != Codec::Option::kRefused;
    const bool from = codec_.BinaryFromServer() != Codec::Option::kRefused;
    if (codec_.ComPort() == Codec::Option::kRefused) {
        Fail("the server refuses the COM-PORT-OPTION (RFC 2217), so the line settings cannot be set");
    } else if (!to || !from) {
        Fail("the server refuses binary transmission (Telnet BINARY) " + BinaryOff(to, from));
    } else if (!answered) {
        if (!gone_) {
            std::string missing;
            for (auto [option, name] : {std::pair{codec_.ComPort(), "COM-PORT-OPTION"},
                                        std::pair{codec_.BinaryToServer(), "WILL BINARY"},
                                        std::pair{codec_.BinaryFromServer(), "DO BINARY"}})
                if (option == Codec::Option::kPending) missing += (missing.empty() ? "" : ", ") + std::string(name);
            Fail("no answer within 2 s to our offer of " + missing + " (RFC 2217)" + UnendedSub());
        }
    } else if (!gone_) {
        binary_agreed_ = true;
        return true;
    }
    watching_ = false;
    socket_.abort();
    return false;
}

bool TcpSerialPort::ApplyLineSettings() {
    if (!IsUsable()) return false;
    if (mode_ == Mode::kRaw) return true;  // the server's own settings apply
    constexpr uint32_t kBaud = 9600;
    constexpr uint8_t kDataBits = 8;
    std::vector<uint8_t> awaited = {Codec::kSetBaudRate, Codec::kSetDataSize, Codec::kSetParity, Codec::kSetStopSize};
    if (!options_.ignore_set_control) awaited.push_back(Codec::kSetControl);
    for (uint8_t command : awaited) codec_.Forget(command);
    // The server is asked to purge with the settings: nothing it kept from before is ours.
    Codec::Bytes out = Codec::SetBaudRate(kBaud);
    for (const Codec::Bytes& command :
         {Codec::Command(Codec::kSetDataSize, kDataBits), Codec::Command(Codec::kSetParity, Codec::kParityOdd),
          Codec::Command(Codec::kSetStopSize, Codec::kStopOne),
          Codec::Command(Codec::kSetControl, Codec::kControlNoFlow),
          Codec::Command(Codec::kSetControl, Codec::kControlDtrOn),
          Codec::Command(Codec::kPurgeData, Codec::kPurgeBoth)})
        out.insert(out.end(), command.begin(), command.end());
    if (!SendCommands(out)) return false;
    // The line settings must be answered as asked. DTR is not waited for: a server whose
    // port has no modem lines (a pseudo-terminal) does not answer it.
    const bool answered = AwaitServer([&] {
        return std::all_of(awaited.begin(), awaited.end(), [&](uint8_t c) { return codec_.Answer(c).has_value(); });
    });
    if (!answered) {
        if (gone_) return false;
        std::string missing;
        for (uint8_t command : awaited)
            if (!codec_.Answer(command)) missing += (missing.empty() ? "" : ", ") + Codec::SettingName(command);
        // A subnegotiation that never ended swallowed the answers: that is the fault to name.
        Fail("no answer within 2 s to " + missing +
             (codec_.InSubnegotiation() ? UnendedSub()
              : codec_.Answer(Codec::kSetControl) || options_.ignore_set_control
                  ? std::string()
                  : "; for a server that never answers SET-CONTROL, add ?ign_set_control to the port name"));
        return false;
    }
    const uint32_t baud = *codec_.Answer(Codec::kSetBaudRate);
    const uint32_t data_bits = *codec_.Answer(Codec::kSetDataSize);
    const uint32_t parity = *codec_.Answer(Codec::kSetParity);
    const uint32_t stop_bits = *codec_.Answer(Codec::kSetStopSize);
    std::string differs;
    if (baud != kBaud || data_bits != kDataBits || parity != Codec::kParityOdd || stop_bits != Codec::kStopOne) {
        static constexpr const char* kParity[] = {"?", "N", "O", "E", "M", "S"};
        differs = std::to_string(baud) + " baud " + std::to_string(data_bits) + (parity < 6 ? kParity[parity] : "?") +
                  std::to_string(stop_bits) + " instead of 9600 8O1";
    }
    // A server keeping flow control on would hold the box's replies back until they time out.
    if (const auto flow = codec_.Answer(Codec::kSetControl);
        !options_.ignore_set_control && flow && *flow != Codec::kControlNoFlow)
        differs += (differs.empty() ? "" : " and ") + Codec::ControlName(static_cast<uint8_t>(*flow)) +
                   " instead of none";
    if (differs.empty()) return true;
    Fail("the server set " + differs);
    return false;
}

std::string TcpSerialPort::UnendedSub() const {
    return codec_.InSubnegotiation() ? "; " + codec_.UnendedSubnegotiation() : std::string();
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

bool TcpSerialPort::SendCommands(const TelnetCodec::Bytes& bytes) {
    Note("telnet, we send: " + Codec::Describe(bytes));
    return Send(bytes);
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
        Codec::Bytes data, answer;
        if (mode_ == Mode::kRaw) {
            data.assign(bytes, bytes + in.size());
        } else {
            codec_.Feed(bytes, static_cast<size_t>(in.size()), &data, &answer);
            if (codec_.Purged()) received_.clear();  // the server purged: what came before is stale
            std::string notes;
            for (const std::string& note : codec_.TakeNotes()) notes += (notes.empty() ? "" : ", ") + note;
            if (!notes.empty()) Note("telnet, server: " + notes);
        }
        received_.insert(received_.end(), data.begin(), data.end());
        heard_.append(data.begin(), data.end());
        if (heard_.size() > kHeardLimit) {  // keep whole lines only
            heard_.erase(0, heard_.size() - kHeardLimit);
            const size_t eol = heard_.find_first_of("\r\n");
            heard_.erase(0, eol == std::string::npos ? heard_.size() : eol + 1);
        }
        if (!answer.empty() && !Send(answer)) return false;
        // Binary transmission taken back mid-session (WONT or DONT BINARY, acknowledged above):
        // from here on bytes of frames and replies could be changed, so the session ends.
        const bool to = codec_.BinaryToServer() != Codec::Option::kRefused;
        const bool from = codec_.BinaryFromServer() != Codec::Option::kRefused;
        if (binary_agreed_ && (!to || !from)) {
            Broken("the server turned binary transmission (Telnet BINARY) off mid-session " + BinaryOff(to, from));
            return false;
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
    const bool ok = Pump(0);  // what has come so far is dropped, commands still count
    received_.clear();
    if (!ok) return false;
    if (mode_ == Mode::kRaw || !purge_due_) return true;
    // The box did not answer in time: whatever the server still holds for us is stale.
    purge_due_ = false;
    return SendCommands(Codec::Command(Codec::kPurgeData, Codec::kPurgeReceive));
}

bool TcpSerialPort::ClearError(uint32_t* errors, uint32_t* queued, uint32_t wait_ms) {
    if (errors) *errors = 0;  // the network carries no framing or parity errors
    if (queued) *queued = 0;
    if (!IsUsable()) return false;
    if (received_.empty() && !AwaitData(static_cast<int>(wait_ms))) return false;
    if (!received_.empty()) purge_due_ = false;
    else if (wait_ms > 0) purge_due_ = true;
    if (queued) *queued = static_cast<uint32_t>(received_.size());
    return true;
}

uint32_t TcpSerialPort::Write(const uint8_t* data, uint32_t n) {
    if (!IsUsable() || n == 0) return 0;
    error_.clear();
    // No frame goes out while the server holds our output back; a hold longer than the
    // limit fails the write with the cause.
    if (mode_ == Mode::kRfc2217 && codec_.Suspended()) {
        const QDeadlineTimer deadline(kSuspendLimitMs);
        while (codec_.Suspended() && !deadline.hasExpired())
            if (!Pump(static_cast<int>(deadline.remainingTime()))) return 0;
        if (codec_.Suspended()) {
            Broken("the server has held our output back (FLOWCONTROL-SUSPEND) for more than 1 s");
            return 0;
        }
    }
    if (!Send(mode_ == Mode::kRaw ? Codec::Bytes(data, data + n) : Codec::EncodeData(data, n))) return 0;
    QDeadlineTimer deadline(static_cast<qint64>(kPortTimeouts.WriteTotalMs(n)));
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
    if (received_.empty() && !AwaitData(static_cast<int>(kPortTimeouts.ReadTotalMs(1)))) return 0;
    if (received_.empty()) return 0;
    *byte = received_.front();
    received_.pop_front();
    return 1;
}

}  // namespace dpx::platform
