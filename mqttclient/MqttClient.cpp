#include "mqttclient/MqttClient.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <mutex>

namespace dpx::mqtt {
namespace {

void InitLibrary() {
    static std::once_flag once;
    std::call_once(once, [] {
        mosquitto_lib_init();
        std::atexit([] { mosquitto_lib_cleanup(); });
    });
}

// The library's text without its full stop, to be followed by more.
std::string ErrorText(int rc) {
    std::string text = rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc);
    if (!text.empty() && text.back() == '.') text.pop_back();
    return text;
}

}  // namespace

MqttClient::MqttClient(Setup setup, QObject* parent) : QObject(parent), setup_(std::move(setup)) {
    InitLibrary();
    misc_.setInterval(std::max(1, setup_.keepalive_s) * 500);
    connect(&misc_, &QTimer::timeout, this, &MqttClient::Misc);
    retry_.setSingleShot(true);
    connect(&retry_, &QTimer::timeout, this, &MqttClient::Connect);
}

MqttClient::~MqttClient() {
    Drop(true);
    if (mosq_) mosquitto_destroy(mosq_);
}

void MqttClient::Warn(const std::string& text) const {
    if (on_warning) on_warning(text);
    else std::fprintf(stderr, "dpx20ctl: %s\n", text.c_str());
}

bool MqttClient::Start(std::string* why) {
    mosq_ = mosquitto_new(setup_.client_id.c_str(), true, this);
    if (!mosq_) {
        *why = "cannot make an MQTT client: " + std::string(std::strerror(errno));
        return false;
    }
    mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    // Small messages leave at once: Nagle's algorithm would hold an answer for the broker's
    // delayed acknowledgement of the previous one (40 ms).
    mosquitto_int_option(mosq_, MOSQ_OPT_TCP_NODELAY, 1);
    if (!setup_.broker.user.empty()) {
        const int rc = mosquitto_username_pw_set(mosq_, setup_.broker.user.c_str(),
                                                 setup_.broker.password.empty() ? nullptr : setup_.broker.password.c_str());
        if (rc != MOSQ_ERR_SUCCESS) {
            *why = "the MQTT user or password is not taken: " + ErrorText(rc);
            return false;
        }
    }
    if (setup_.broker.tls) {
        int rc = MOSQ_ERR_SUCCESS;
        if (setup_.ca_file.empty()) rc = mosquitto_int_option(mosq_, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        else rc = mosquitto_tls_set(mosq_, setup_.ca_file.c_str(), nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            *why = "cannot use the CA file " + setup_.ca_file + ": " + ErrorText(rc);
            return false;
        }
    }
    if (setup_.will) {
        const Message& w = *setup_.will;
        const int rc = mosquitto_will_set_v5(mosq_, w.topic.c_str(), static_cast<int>(w.payload.size()), w.payload.data(), 1, w.retain, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            *why = "the last will is not taken: " + ErrorText(rc);
            return false;
        }
    }
    mosquitto_connect_v5_callback_set(mosq_, &MqttClient::OnConnect);
    mosquitto_disconnect_v5_callback_set(mosq_, &MqttClient::OnDisconnect);
    mosquitto_message_v5_callback_set(mosq_, &MqttClient::OnMessage);
    Connect();
    return true;
}

void MqttClient::Connect() {
    if (stopping_) return;
    // Resolving the name blocks, the connection does not: its end is seen by the write notifier.
    const int rc = started_ ? mosquitto_reconnect_async(mosq_)
                            : mosquitto_connect_async(mosq_, setup_.broker.host.c_str(), setup_.broker.port, setup_.keepalive_s);
    started_ = true;
    if (rc != MOSQ_ERR_SUCCESS) return Lost(ErrorText(rc));
    Watch();
}

void MqttClient::Watch() {
    const int fd = mosquitto_socket(mosq_);
    if (fd == socket_ && read_) return WantWrite();
    Drop();
    if (fd < 0) return;
    socket_ = fd;
    read_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(read_.get(), &QSocketNotifier::activated, this, &MqttClient::Readable);
    write_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
    connect(write_.get(), &QSocketNotifier::activated, this, &MqttClient::Writable);
    misc_.start();
    WantWrite();
}

void MqttClient::Drop(bool now) {
    for (std::unique_ptr<QSocketNotifier>* notifier : {&read_, &write_}) {
        if (!*notifier) continue;
        (*notifier)->setEnabled(false);
        (*notifier)->disconnect(this);
        // Dropped from within its own signal (a read that found the connection gone): deleted
        // once that has returned.
        if (now) notifier->reset();
        else notifier->release()->deleteLater();
    }
    socket_ = -1;
    misc_.stop();
}

void MqttClient::WantWrite() {
    if (write_) write_->setEnabled(mosquitto_want_write(mosq_));
}

void MqttClient::Readable() {
    const int rc = mosquitto_loop_read(mosq_, 16);
    if (rc != MOSQ_ERR_SUCCESS) return Lost(ErrorText(rc));
    if (mosq_ && mosquitto_socket(mosq_) < 0) return Lost("the broker closed the connection");
    WantWrite();
}

void MqttClient::Writable() {
    const int rc = mosquitto_loop_write(mosq_, 16);
    if (rc != MOSQ_ERR_SUCCESS) return Lost(ErrorText(rc));
    WantWrite();
}

void MqttClient::Misc() {
    const int rc = mosquitto_loop_misc(mosq_);
    if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_NO_CONN) return Lost(ErrorText(rc));
    if (mosquitto_socket(mosq_) < 0) return Lost("the broker stopped answering");
    WantWrite();
}

void MqttClient::Lost(const std::string& cause) {
    Drop();
    const bool was = connected_;
    connected_ = false;
    if (stopping_) return;
    if (was || cause != last_warning_) Warn("MQTT broker " + setup_.broker.host + ":" + std::to_string(setup_.broker.port) + ": " + cause +
                                            "; trying again in " + std::to_string(retry_ms_ / 1000) + " s");
    last_warning_ = cause;
    if (was && on_disconnected) on_disconnected(cause);
    if (!retry_.isActive()) retry_.start(retry_ms_);
    retry_ms_ = std::min(retry_ms_ * 2, kLastRetryMs);
}

void MqttClient::OnConnect(mosquitto*, void* self, int rc, int, const mosquitto_property*) {
    auto* client = static_cast<MqttClient*>(self);
    if (rc != 0) {
        // A refused login: the broker closes the connection; it is tried again with backoff.
        client->last_warning_.clear();
        client->Lost(std::string("refused the connection: ") + mosquitto_reason_string(rc));
        return;
    }
    client->connected_ = true;
    client->retry_ms_ = kFirstRetryMs;
    client->last_warning_.clear();
    for (const std::string& filter : client->setup_.subscriptions)
        mosquitto_subscribe_v5(client->mosq_, nullptr, filter.c_str(), 1, MQTT_SUB_OPT_NO_LOCAL, nullptr);
    if (client->on_connected) client->on_connected();
    client->WantWrite();
}

void MqttClient::OnDisconnect(mosquitto*, void* self, int rc, const mosquitto_property*) {
    auto* client = static_cast<MqttClient*>(self);
    if (client->stopping_ || !client->connected_) return;
    // Called from within loop_read or loop_misc: the caller sees the socket gone and retries.
    client->connected_ = false;
    if (client->on_disconnected) client->on_disconnected(rc == 0 ? "disconnected" : ErrorText(rc));
}

void MqttClient::OnMessage(mosquitto*, void* self, const mosquitto_message* m, const mosquitto_property* props) {
    auto* client = static_cast<MqttClient*>(self);
    if (!client->on_message || !m || !m->topic) return;
    Message message;
    message.topic = m->topic;
    if (m->payloadlen > 0) message.payload.assign(static_cast<const char*>(m->payload), static_cast<std::size_t>(m->payloadlen));
    message.retain = m->retain;
    char* response = nullptr;
    if (mosquitto_property_read_string(props, MQTT_PROP_RESPONSE_TOPIC, &response, false) && response) {
        message.response_topic = response;
        std::free(response);
    }
    void* correlation = nullptr;
    uint16_t length = 0;
    if (mosquitto_property_read_binary(props, MQTT_PROP_CORRELATION_DATA, &correlation, &length, false) && correlation) {
        message.correlation.assign(static_cast<const char*>(correlation), length);
        std::free(correlation);
    }
    char* name = nullptr;
    char* value = nullptr;
    for (const mosquitto_property* p = mosquitto_property_read_string_pair(props, MQTT_PROP_USER_PROPERTY, &name, &value, false); p;
         p = mosquitto_property_read_string_pair(p, MQTT_PROP_USER_PROPERTY, &name, &value, true)) {
        if (name && value && std::string(name) == "status") message.status = std::atoi(value);
        std::free(name);
        std::free(value);
        name = value = nullptr;
    }
    client->on_message(message);
}

void MqttClient::Publish(const Message& message) {
    if (!connected_ || !mosq_) return;
    mosquitto_property* props = nullptr;
    if (!message.response_topic.empty()) mosquitto_property_add_string(&props, MQTT_PROP_RESPONSE_TOPIC, message.response_topic.c_str());
    if (!message.correlation.empty())
        mosquitto_property_add_binary(&props, MQTT_PROP_CORRELATION_DATA, message.correlation.data(),
                                      static_cast<uint16_t>(std::min<std::size_t>(message.correlation.size(), 65535)));
    if (message.status > 0) mosquitto_property_add_string_pair(&props, MQTT_PROP_USER_PROPERTY, "status", std::to_string(message.status).c_str());
    const bool important = message.retain || !message.correlation.empty() || !message.response_topic.empty();
    const int rc = mosquitto_publish_v5(mosq_, nullptr, message.topic.c_str(), static_cast<int>(message.payload.size()),
                                        message.payload.data(), important ? 1 : 0, message.retain, props);
    mosquitto_property_free_all(&props);
    // A topic the broker would refuse (a wildcard in a response topic) is dropped here.
    if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_INVAL && rc != MOSQ_ERR_MALFORMED_UTF8 && rc != MOSQ_ERR_OVERSIZE_PACKET) Warn("MQTT: " + ErrorText(rc));
    WantWrite();
}

void MqttClient::Stop(const std::optional<Message>& last, int wait_ms) {
    if (!mosq_) return;
    if (connected_ && last) Publish(*last);
    stopping_ = true;
    retry_.stop();
    if (connected_) {
        mosquitto_disconnect_v5(mosq_, MQTT_RC_NORMAL_DISCONNECTION, nullptr);
        // What is queued leaves now: the event loop no longer runs.
        QElapsedTimer clock;
        clock.start();
        while (mosquitto_socket(mosq_) >= 0 && mosquitto_want_write(mosq_) && clock.elapsed() < wait_ms)
            if (mosquitto_loop_write(mosq_, 16) != MOSQ_ERR_SUCCESS) break;
        mosquitto_loop_read(mosq_, 1);
    }
    connected_ = false;
    Drop(true);
}

}  // namespace dpx::mqtt
