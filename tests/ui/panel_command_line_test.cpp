// The panel's command line: its options, the toolkit's, and what it refuses before a window opens.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/CommandLine.h"

namespace dpx {
namespace {

PanelOptions Parse(std::vector<const char*> args) {
    args.insert(args.begin(), "dpx20remote");
    return ParsePanelArguments(static_cast<int>(args.size()), args.data());
}

TEST(PanelCommandLine, OwnAndToolkitOptionsAreTakenOthersRefused) {
    struct Case {
        std::vector<const char*> args;
        const char* error;  // "" when taken
    };
    const Case cases[] = {
        {{}, ""},
        {{"--api", "127.0.0.1:8420"}, ""},
        {{"--api=off", "--api-cert", "c.pem", "--api-key=k.pem"}, ""},
        {{"-platform", "offscreen", "--style=fusion", "-reverse"}, ""},
        {{"--apu", "8420"}, "unknown option --apu"},
        {{"--api"}, "--api needs a value"},
        {{"-platform"}, "-platform needs a value"},
        {{"---style", "x"}, "unknown option ---style"},
        {{"file.ini"}, "unknown argument file.ini"},
    };
    for (const Case& c : cases) {
        const PanelOptions o = Parse(c.args);
        EXPECT_EQ(o.error, c.error) << (c.args.empty() ? "" : c.args[0]);
    }
    EXPECT_EQ(*Parse({"--api", "off"}).api, "off");
    EXPECT_FALSE(Parse({}).api.has_value());
    EXPECT_EQ(Parse({"--api-cert=c.pem"}).api_cert, "c.pem");
    EXPECT_TRUE(Parse({"--api", "1", "--help"}).help);
    EXPECT_TRUE(Parse({"-h"}).help);
    EXPECT_TRUE(Parse({"--version"}).version);
}

}  // namespace
}  // namespace dpx
