#include <QRegularExpression>
#include <QUrlQuery>
#include <QWebSocket>
#include <algorithm>

#include "api/ControlApi.h"
#include "api/WebSocketFrame.h"
#include "http/ApiServer.h"
#include "link/FrameTrace.h"

// The event clients of GET /api/v1/events: each WebSocket the server took, with what it is
// sent, how fast, and whether it still answers.
namespace dpx::api {
namespace {

constexpr qint64 kSettingGapMs = 1000 / ApiServer::kSettingEventsPerSecond;
// The largest frame a client may send: it only listens.
constexpr std::size_t kClientFrameLimit = 1024;

}  // namespace

void ApiServer::TakeEventClients() {
    while (websockets_.hasPendingConnections()) {
        QWebSocket* client = websockets_.nextPendingConnection();
        if (!client) break;
        client->setParent(this);
        // The WebSocket uses the socket it was upgraded from until its end: it owns it now.
        QTcpSocket* socket = nullptr;
        upgrading_.erase(std::remove(upgrading_.begin(), upgrading_.end(), nullptr), upgrading_.end());
        for (auto it = upgrading_.begin(); it != upgrading_.end(); ++it) {
            if ((*it)->peerPort() == client->peerPort() && (*it)->peerAddress() == client->peerAddress()) {
                socket = *it;
                socket->setParent(client);
                upgrading_.erase(it);
                break;
            }
        }
        connect(client, &QWebSocket::disconnected, this, [this, client] {
            clients_.erase(client);
            client->deleteLater();
            if (clients_.empty()) ping_timer_.stop();  // an idle server sleeps
        });
        // What a client sends is read here, not by its QWebSocket, which does not hold a client
        // to masking its frames: the socket's data goes to ReadFrames alone.
        if (socket) QObject::disconnect(socket, &QTcpSocket::readyRead, this, nullptr);  // Upgrade's watch
        if (!socket || !QObject::disconnect(socket, &QTcpSocket::readyRead, client, nullptr)) {
            Warn("a WebSocket client's frames cannot be checked: it is closed");
            client->abort();
            continue;
        }
        connect(socket, &QTcpSocket::readyRead, client, [this, client, socket] { ReadFrames(client, socket); });
        // /events?box=NAME or /boxes/NAME/events: one box's events of a service of several.
        EventClient events;
        const QUrl url = client->requestUrl();
        events.box = QUrlQuery(url).queryItemValue(QStringLiteral("box")).toStdString();
        static const QRegularExpression kBoxPath(QStringLiteral("/boxes/([^/]+)/events$"));
        if (const QRegularExpressionMatch m = kBoxPath.match(url.path()); m.hasMatch()) events.box = m.captured(1).toStdString();
        clients_[client] = events;
        if (!ping_timer_.isActive()) ping_timer_.start();
        Json state = api_.State();
        if (const Json* boxes = state.Find("boxes"); boxes && !events.box.empty()) {
            std::optional<Json> picked;  // copied out before the state is replaced
            for (const Json& one : boxes->Items())
                if (const Json* name = one.Find("box"); name && name->Text() == events.box) picked = one;
            if (picked) state = std::move(*picked);
        }
        // Its source is the host: the one box's, or that of the first of several.
        const Json* host = state.Find("host");
        if (const Json* boxes = state.Find("boxes"); !host && boxes && !boxes->Items().empty())
            host = boxes->Items().front().Find("host");
        const Json source = host ? *host : Json("service");  // copied before the state grows
        state.Set("event", "state").Set("source", source).Set("time", FrameTrace::IsoTime(FrameTrace::WallMs()));
        Send(client, QString::fromStdString(state.Dump()));
        ReadFrames(client, socket);  // what came with the handshake
    }
}

// Clients only listen: their pongs are noted, a ping is answered, a close ends the connection,
// and data is dropped. A frame against the protocol (an unmasked one first of all) ends it with
// its close code.
void ApiServer::ReadFrames(QWebSocket* client, QTcpSocket* socket) {
    const auto it = clients_.find(client);
    if (it == clients_.end()) return;
    EventClient& state = it->second;
    state.unread += socket->readAll().toStdString();
    std::size_t at = 0;
    for (;;) {
        const http::ClientFrame frame = http::ReadClientFrame(std::string_view(state.unread).substr(at), kClientFrameLimit);
        if (frame.status == http::ClientFrame::kIncomplete) break;
        if (frame.status == http::ClientFrame::kRefused)
            return client->close(static_cast<QWebSocketProtocol::CloseCode>(frame.close_code), QString::fromStdString(frame.error));
        at += frame.consumed;
        // A message's frames: a first frame (text or binary), then continuations.
        if (frame.opcode <= 2 && (frame.opcode == 0) != state.in_message)
            return client->close(QWebSocketProtocol::CloseCodeProtocolError, QStringLiteral("frames out of their message's order"));
        if (frame.opcode <= 2) state.in_message = !frame.final;
        if (frame.opcode == 8) return client->close();
        if (frame.opcode == 9) socket->write(QByteArray::fromStdString(http::ServerControlFrame(10, frame.payload)));
        if (frame.opcode == 10) state.answered_ping = true;
    }
    state.unread.erase(0, at);
}

void ApiServer::Send(QWebSocket* client, const QString& text) {
    if (client->bytesToWrite() > kEventBacklogLimit) {
        client->abort();  // it stopped reading; disconnected() removes it
        return;
    }
    client->sendTextMessage(text);
    client->flush();
}

void ApiServer::Broadcast(const std::string& json) {
    const QString text = QString::fromStdString(json);
    std::string why;
    const std::optional<Json> event = ParseJson(json, &why);
    const Json* name = event ? event->Find("event") : nullptr;
    const Json* key = event ? event->Find("key") : nullptr;
    const bool setting = name && name->Text() == "setting" && key;
    const qint64 now = clock_.elapsed();
    const Json* box = event ? event->Find("box") : nullptr;
    for (auto& [client, state] : std::map<QWebSocket*, EventClient>(clients_)) {
        if (!clients_.count(client)) continue;  // dropped meanwhile
        if (!state.box.empty() && box && box->Text() != state.box) continue;
        if (!setting) {
            Send(client, text);
            continue;
        }
        PendingSetting& pending = clients_[client].settings[key->Text()];
        if (!pending.due && now - pending.sent_ms >= kSettingGapMs) {
            pending.sent_ms = now;
            Send(client, text);
            continue;
        }
        // Held back: the latest value goes out when the gap has passed, with the value this
        // client saw before the burst as its previous one.
        if (!pending.due) pending.previous = event->Find("previous") ? event->Find("previous")->Dump() : "null";
        pending.due = json;
        if (!due_timer_.isActive()) due_timer_.start(static_cast<int>(std::max<qint64>(1, pending.sent_ms + kSettingGapMs - now)));
    }
}

void ApiServer::SendDueSettings() {
    const qint64 now = clock_.elapsed();
    qint64 next = -1;
    for (auto& [client, state] : std::map<QWebSocket*, EventClient>(clients_)) {
        if (!clients_.count(client)) continue;
        for (auto& [key, pending] : clients_[client].settings) {
            if (!pending.due) continue;
            if (now - pending.sent_ms < kSettingGapMs) {
                const qint64 wait = pending.sent_ms + kSettingGapMs - now;
                next = next < 0 ? wait : std::min(next, wait);
                continue;
            }
            std::string why;
            const std::optional<Json> latest = ParseJson(*pending.due, &why);
            const std::optional<Json> previous = ParseJson(pending.previous.value_or("null"), &why);
            pending.due.reset();
            pending.sent_ms = now;
            if (!latest || !previous) continue;
            Json event = Json::Object();
            for (std::size_t i = 0; i < latest->Keys().size(); ++i)
                event.Set(latest->Keys()[i], latest->Keys()[i] == "previous" ? *previous : latest->Items()[i]);
            Send(client, QString::fromStdString(event.Dump()));
            if (!clients_.count(client)) break;
        }
    }
    if (next >= 0) due_timer_.start(static_cast<int>(std::max<qint64>(1, next)));
}

void ApiServer::PingClients() {
    // A token replaced while no request came ends its event clients here (RefreshToken).
    if (token_required_) RefreshToken();
    for (auto& [client, state] : std::map<QWebSocket*, EventClient>(clients_)) {
        auto it = clients_.find(client);
        if (it == clients_.end()) continue;
        if (!it->second.answered_ping) {
            client->abort();  // no pong since the last ping: the client is gone
            continue;
        }
        it->second.answered_ping = false;
        client->ping();
    }
}

}  // namespace dpx::api
