// The control API's request handler: the input is a method line, a path line, then the body.
// Every answer is one JSON object whose "ok" agrees with its status, and a refused change
// leaves the settings record as it was. The link runs in virtual mode: nothing is sent.
#include <cstdint>
#include <string>

#include "tests/fuzz/fuzz_box.h"
#include "tests/fuzz/fuzz_support.h"

using namespace dpx;

namespace {

fuzz::VirtualBox* box = nullptr;

std::string Line(const std::string& bytes, std::size_t& at) {
    const std::size_t end = bytes.find('\n', at);
    const std::string line = bytes.substr(at, end == std::string::npos ? std::string::npos : end - at);
    at = end == std::string::npos ? bytes.size() : end + 1;
    return line;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::EnterScratchDirectory();
    box = new fuzz::VirtualBox;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::size_t at = 0;
    api::Request request;
    request.method = Line(bytes, at);
    request.path = Line(bytes, at);
    request.body = bytes.substr(at);
    const SettingsRecord before = box->session.Record();
    // Without a thread of its own the box answers before Handle returns.
    api::Response response;
    bool answered = false;
    box->control.Handle(request, [&](api::Response r) {
        response = std::move(r);
        answered = true;
    });
    fuzz::Check(answered, "every request is answered");

    std::string why;
    const std::optional<api::Json> json = api::ParseJson(response.body, &why);
    fuzz::Check(response.status == api::kSwitchingProtocols || (json && json->IsObject()), "the answer is a JSON object");
    if (json && json->IsObject()) {
        const api::Json* ok = json->Find("ok");
        fuzz::Check(ok && ok->Bool() == (response.status < 300), "ok agrees with the status");
        fuzz::Check(api::ParseJson(json->Dump(), &why)->Dump() == json->Dump(), "the answer reads back as written");
    }
    if (response.status >= 400 && response.status != 409) fuzz::Check(box->session.Record() == before, "a refusal changes nothing");
    box->session.Record() = before;
    return 0;
}
