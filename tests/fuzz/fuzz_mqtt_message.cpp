// The MQTT door and the fleet view, fed what a broker could deliver: the input is a topic line,
// a flags byte (retained, with a response topic, an answer's status), then the payload. The door
// serves a box "a" whose link runs in virtual mode (nothing is sent); the fleet has seen one
// service "rack1" of that box. Every answer the door publishes is one JSON object whose "ok"
// agrees with its status, and a command the door refuses changes nothing.
#include <cstdint>
#include <string>

#include "api/BoxRouter.h"
#include "tests/fuzz/fuzz_box.h"
#include "mqtt/Door.h"
#include "mqtt/Fleet.h"
#include "tests/fuzz/fuzz_support.h"

using namespace dpx;

namespace {

fuzz::VirtualBox* box = nullptr;
api::BoxRouter* router = nullptr;
mqtt::Door* door = nullptr;
mqtt::Fleet* fleet = nullptr;
std::vector<mqtt::Message> published;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::EnterScratchDirectory();
    box = new fuzz::VirtualBox;
    router = new api::BoxRouter({{"a", &box->control, &box->session, "COM1", "device", {}}});
    const auto keep = [](const mqtt::Message& m) { published.push_back(m); };
    door = new mqtt::Door(*router, "dpx20", "rack1", {"a"}, keep);
    fleet = new mqtt::Fleet("dpx20", "f1", keep);
    mqtt::Message presence{"dpx20/rack1/status", R"({"online":true,"boxes":["a"]})", true, {}, {}, 0};
    fleet->Receive(presence);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::size_t end = bytes.find('\n');
    mqtt::Message m;
    m.topic = bytes.substr(0, end);
    const std::size_t rest = end == std::string::npos ? bytes.size() : end + 1;
    const uint8_t flags = rest < bytes.size() ? static_cast<uint8_t>(bytes[rest]) : 0;
    m.payload = rest + 1 < bytes.size() ? bytes.substr(rest + 1) : std::string();
    m.retain = flags & 1;
    if (flags & 2) m.response_topic = "dpx20/rack1/reply/f1";
    if (flags & 4) m.correlation = "1";
    if (flags & 8) m.status = flags >> 4;
    // The topic as given and below the door's own tree, to reach its commands.
    const std::string topics[] = {m.topic, "dpx20/rack1/" + m.topic};
    for (const std::string& topic : topics) {
        m.topic = topic;
        const SettingsRecord before = box->session.Record();
        published.clear();
        door->Receive(m);
        fleet->Receive(m);
        bool refused = false;
        for (const mqtt::Message& out : published) {
            if (out.topic != m.response_topic || m.response_topic.empty()) continue;
            std::string why;
            const std::optional<api::Json> json = api::ParseJson(out.payload, &why);
            fuzz::Check(json && json->IsObject(), "the answer is a JSON object");
            const api::Json* ok = json->Find("ok");
            fuzz::Check(ok && ok->Bool() == (out.status < 300), "ok agrees with the status");
            refused = refused || (out.status >= 400 && out.status != 409);
        }
        if (refused) fuzz::Check(box->session.Record() == before, "a refused command changes nothing");
        box->session.Record() = before;
    }
    return 0;
}
