#include "mqtt/Message.h"

#include <algorithm>
#include <cctype>

namespace dpx::mqtt {

bool ValidName(const std::string& name) {
    return !name.empty() && name.size() <= 64 && std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_';
    });
}

std::vector<std::string> Levels(const std::string& topic) {
    std::vector<std::string> levels;
    std::size_t start = 0;
    while (true) {
        const std::size_t slash = topic.find('/', start);
        levels.push_back(topic.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
        if (slash == std::string::npos) return levels;
        start = slash + 1;
    }
}

bool ParseBrokerUrl(const std::string& url, BrokerUrl* out, std::string* why) {
    BrokerUrl b;
    std::string rest;
    if (url.rfind("mqtt://", 0) == 0) {
        rest = url.substr(7);
    } else if (url.rfind("mqtts://", 0) == 0) {
        rest = url.substr(8);
        b.tls = true;
        b.port = 8883;
    } else {
        *why = "a broker is mqtt://HOST[:PORT] or mqtts://HOST[:PORT]: " + url;
        return false;
    }
    if (const std::size_t end = rest.find_first_of("/?#"); end != std::string::npos) {
        if (rest.find_first_not_of('/', end) != std::string::npos) {
            *why = "a broker's address has no path: " + url;
            return false;
        }
        rest.resize(end);
    }
    if (const std::size_t at = rest.rfind('@'); at != std::string::npos) {
        const std::string who = rest.substr(0, at);
        rest = rest.substr(at + 1);
        const std::size_t colon = who.find(':');
        b.user = who.substr(0, colon);
        if (colon != std::string::npos) b.password = who.substr(colon + 1);
        if (b.user.empty()) {
            *why = "the user before '@' is missing: " + url;
            return false;
        }
    }
    std::string port;
    if (!rest.empty() && rest.front() == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string::npos) {
            *why = "an IPv6 address ends with ']': " + url;
            return false;
        }
        b.host = rest.substr(1, close - 1);
        rest = rest.substr(close + 1);
        if (!rest.empty() && rest.front() != ':') {
            *why = "after ']' only :PORT may follow: " + url;
            return false;
        }
        if (!rest.empty()) port = rest.substr(1);
    } else {
        const std::size_t colon = rest.find(':');
        b.host = rest.substr(0, colon);
        if (colon != std::string::npos) port = rest.substr(colon + 1);
    }
    if (b.host.empty()) {
        *why = "the broker's host is missing: " + url;
        return false;
    }
    if (!port.empty() || (rest.size() && rest.back() == ':')) {
        const bool digits = !port.empty() && port.size() <= 5 &&
                            std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; });
        const int n = digits ? std::stoi(port) : 0;
        if (n < 1 || n > 65535) {
            *why = "a broker's port is 1 to 65535: " + url;
            return false;
        }
        b.port = n;
    }
    *out = b;
    return true;
}

}  // namespace dpx::mqtt
