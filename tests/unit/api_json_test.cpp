// The control API's JSON: what a request body reads as, what an answer is written as, and
// where a body that is not JSON is refused.
#include <gtest/gtest.h>

#include <string>

#include "api/ApiJson.h"

namespace dpx::api {
namespace {

TEST(ApiJson, ReadsKeepingOrderAndWritesUtf8BackAsRead) {
    struct Case {
        std::string text;
        std::string dump;  // empty: refused
        std::string why;   // the reason named when refused
    };
    const std::string deep = std::string(kJsonDepthLimit + 1, '[') + std::string(kJsonDepthLimit + 1, ']');
    const Case cases[] = {
        {" {\"b\": [true, null, \"x\"], \"a\": -1} ", "{\"b\":[true,null,\"x\"],\"a\":-1}", ""},
        {"1.5e3", "1.5e3", ""},
        {"99999999999999999999", "99999999999999999999", ""},
        {"\"\\u00e9\\ud83d\\ude00\\n\"", "\"\xC3\xA9\xF0\x9F\x98\x80\\n\"", ""},
        {"\"\xFF\xC3\xA9\"", "\"\xEF\xBF\xBD\xC3\xA9\"", ""},  // a byte that is not UTF-8
        {"{\"a\":1", "", "byte 7: ',' or '}' is missing"},
        {"[1,]", "", "not a JSON value"},
        {"\"\\ud800\"", "", "a high surrogate without its low one"},
        {"\"a\nb\"", "", "a control character must be escaped"},
        {"{} x", "", "there is more after the JSON value"},
        {"", "", "a value is missing"},
        {deep, "", "nested too deeply"},
    };
    for (const Case& c : cases) {
        std::string why;
        const std::optional<Json> json = ParseJson(c.text, &why);
        ASSERT_EQ(json.has_value(), !c.dump.empty()) << c.text << ": " << why;
        if (!json) {
            EXPECT_NE(why.find(c.why), std::string::npos) << c.text << ": " << why;
            continue;
        }
        EXPECT_EQ(json->Dump(), c.dump);
        EXPECT_EQ(ParseJson(json->Dump(), &why)->Dump(), c.dump);
    }
}

}  // namespace
}  // namespace dpx::api
