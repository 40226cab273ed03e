// The Ember+ provider's decoder: S101 frames and Glow messages of any bytes, read by the
// provider over an endpoint that answers every request. Whatever comes, nothing is read past
// its input, the stream's error stops the reading, and every byte the provider sends back is
// a well-framed message. The first byte picks the layer: odd, the bytes are a stream of S101
// frames (one half, then the other); even, they are one Glow message, framed here so that the
// fuzzer reaches the Glow reader past the CRC.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ember/Glow.h"
#include "ember/Provider.h"
#include "ember/S101.h"
#include "tests/fuzz/fuzz_support.h"

using namespace dpx;

namespace {

class Endpoint final : public api::Endpoint {
public:
    void SetAccess(api::Access) override {}
    void SetPost(Session::Post) override {}
    void Handle(const api::Request&, Reply reply) override { reply({409, R"({"ok":false,"error":"busy","result":null})", {}, {}}); }
    api::Json State() const override {
        api::Json settings = api::Json::Object().Set("sys_beep", api::Json::Object().Set("value", 1));
        api::Json box = api::Json::Object().Set("box", "a").Set("connected", true).Set("settings", std::move(settings));
        return api::Json::Object().Set("boxes", api::Json::Array().Push(std::move(box)));
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    const bool stream = (data[0] & 1) != 0;

    // The stream read whole and in two parts gives the same items.
    ember::S101Decoder whole, parts;
    std::vector<ember::S101Decoder::Item> a, b;
    const bool ok = whole.Feed(bytes, &a);
    const bool ok_parts = parts.Feed(bytes.substr(0, bytes.size() / 2), &b) && parts.Feed(bytes.substr(bytes.size() / 2), &b);
    fuzz::Check(ok == ok_parts && a.size() == b.size(), "a stream reads the same however it arrives");
    for (std::size_t i = 0; i < a.size(); ++i) {
        fuzz::Check(a[i].message == b[i].message, "a message reads the same however it arrives");
        fuzz::Check(a[i].message.size() <= ember::S101Decoder::Limits{}.message, "a message keeps within its limit");
    }
    // A Glow message read on its own (no S101 around it) as a request and as a provider's
    // elements; elements written again read back at the same paths.
    std::vector<ember::Action> actions;
    std::string why;
    ember::DecodeRequest(bytes, &actions, &why);
    std::vector<ember::Element> elements, again;
    std::optional<ember::InvocationResult> result;
    if (ember::DecodeElements(bytes, &elements, &result, &why)) {
        fuzz::Check(ember::DecodeElements(ember::EncodeElements(elements), &again, nullptr, &why), "written elements read back");
        bool same = again.size() == elements.size();
        for (std::size_t i = 0; same && i < elements.size(); ++i) same = again[i].path == elements[i].path;
        fuzz::Check(same, "written elements keep their paths");
    }

    // The provider answers in whole messages only.
    Endpoint endpoint;
    ember::Provider provider(endpoint, {});
    ember::S101Decoder answers;
    bool framed = true;
    provider.send = [&](int, const std::string& out) {
        std::vector<ember::S101Decoder::Item> items;
        framed = framed && answers.Feed(out, &items);
    };
    provider.Add(1);
    provider.Receive(1, stream ? bytes : std::string_view(ember::EncodeMessage(bytes)));
    fuzz::Check(framed, "every answer is well framed");
    return 0;
}
