// `dpx20ctl service install|remove NAME`: the command lines refused before the Service Control
// Manager is asked anything, and the service's command line as Windows splits it again.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ctl/CtlRequest.h"
#include "ctl/ServiceRequest.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

namespace dpx::cli {
namespace {

using Args = std::vector<std::string>;

TEST(ServiceRequest, TakesInstallAndRemoveAndRefusesTheRest) {
    const ServiceRequest install = ParseServiceRequest({"install", "rack-1", "--", "--api", "0.0.0.0:8420", "-p", "COM3"});
    EXPECT_EQ(install.action, "install");
    EXPECT_EQ(install.name, "rack-1");
    EXPECT_EQ(install.serve_args, (Args{"--api", "0.0.0.0:8420", "-p", "COM3"}));
    // "serve" may end the options; the service adds it itself.
    EXPECT_EQ(ParseServiceRequest({"run", "a", "--", "--ember", "9000", "serve"}).serve_args, (Args{"--ember", "9000"}));
    EXPECT_EQ(ParseServiceRequest({"remove", "a.b_c"}).action, "remove");

    const Args refused[] = {
        {},
        {"install"},
        {"start", "a"},
        {"remove", "a", "--"},
        {"install", "a"},                                    // no serve options
        {"install", "a", "--api", "8420"},                   // without --
        {"install", "a", "--"},
        {"install", "a", "--", "-p", "COM1"},                // neither --api nor --ember
        {"install", "a", "--", "--api", "8420", "sync", "f"},  // a command of its own
        {"install", "a", "--", "--api", "8420", "--json"},
        {"install", "a", "--", "--api", "8420", "--no-such-option"},
        {"install", "", "--", "--api", "8420"},
        {"install", ".hidden", "--", "--api", "8420"},
        {"install", "a/b", "--", "--api", "8420"},
        {"install", "a b", "--", "--api", "8420"},
        {"install", "a@b", "--", "--api", "8420"},
        {"remove", std::string(65, 'a')},
    };
    for (const Args& args : refused) {
        std::string line;
        for (const std::string& a : args) line += a + " ";
        EXPECT_THROW(ParseServiceRequest(args), UsageError) << line;
    }
    EXPECT_NO_THROW(ParseServiceRequest({"remove", std::string(64, 'a')}));
}

TEST(ServiceRequest, CommandLineSplitsBackIntoTheSameArguments) {
    const struct {
        std::string arg;
        std::string quoted;
    } cases[] = {
        {"--api", "--api"},
        {"C:\\certs\\a.p12", "C:\\certs\\a.p12"},  // backslashes alone stand as they are
        {"", "\"\""},
        {"a b", "\"a b\""},
        {"tab\there", "\"tab\there\""},
        {"say \"hi\"", "\"say \\\"hi\\\"\""},
        {"C:\\Program Files\\x\\", "\"C:\\Program Files\\x\\\\\""},  // before the closing quote: doubled
        {"a\\\\\"b", "\"a\\\\\\\\\\\"b\""},                              // two before a quote: 2n+1
        {"\\\\server\\share dir", "\"\\\\server\\share dir\""},
    };
    Args all;
    for (const auto& c : cases) {
        EXPECT_EQ(WindowsCommandLine({c.arg}), c.quoted) << c.arg;
        all.push_back(c.arg);
    }
#ifdef _WIN32
    // The system's own splitting gives the arguments back, every one in one line.
    const std::string line = "dpx20ctl.exe " + WindowsCommandLine(all);
    const std::wstring wide(line.begin(), line.end());
    int n = 0;
    LPWSTR* split = CommandLineToArgvW(wide.c_str(), &n);
    ASSERT_NE(split, nullptr);
    ASSERT_EQ(n, static_cast<int>(all.size()) + 1);
    for (std::size_t i = 0; i < all.size(); ++i) {
        const std::wstring w(split[i + 1]);
        EXPECT_EQ(std::string(w.begin(), w.end()), all[i]);
    }
    LocalFree(split);
#endif
}

}  // namespace
}  // namespace dpx::cli
