// dpx20ctl's command line and the file `sync -` reads from standard input. The input is the
// argument words, each ended by a zero byte; after an empty word comes standard input.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "ctl/CtlRequest.h"
#include "common/Format.h"
#include "settings/OptionFile.h"
#include "tests/fuzz/fuzz_support.h"

using namespace dpx;
using namespace dpx::cli;

namespace {

bool PrintableJson(const std::string& json) {
    if (json.size() < 2 || json.front() != '"' || json.back() != '"') return false;
    for (unsigned char c : json)
        if (c < 0x20 || c >= 0x7F) return false;
    return true;
}

// `sync -` must read standard input exactly as the reader reads the same bytes from a file.
void CheckStandardInput(const std::string& input) {
    fuzz::WriteInput("stdin", reinterpret_cast<const uint8_t*>(input.data()), input.size());
    fuzz::WriteInput("file.sav", reinterpret_cast<const uint8_t*>(input.data()), input.size());
    std::FILE* in = std::fopen("stdin", "rb");
    if (!in) std::abort();
    SettingsRecord from_stdin, from_file;
    const int result = ReadSyncFile("-", in, from_stdin);
    std::fclose(in);
    fuzz::Check(result == 0 || result == 1, "result is 0 or 1");
    fuzz::Check(result == ReadOptionFile("file.sav", from_file) && from_stdin == from_file,
                "standard input reads as the same file would");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::EnterScratchDirectory();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> words = {"dpx20ctl"};
    std::size_t at = 0;
    for (std::size_t end; (end = bytes.find('\0', at)) != std::string::npos && end > at; at = end + 1)
        words.push_back(bytes.substr(at, end - at));
    const std::string input = at < size && bytes[at] == '\0' ? bytes.substr(at + 1) : std::string();
    std::vector<const char*> argv;
    for (const std::string& w : words) argv.push_back(w.c_str());

    Plan plan;
    try {
        const Options options = ParseArguments(static_cast<int>(argv.size()), argv.data());
        fuzz::Check(options.json == JsonRequested(static_cast<int>(argv.size()), argv.data()),
                    "--json is seen before the whole line is parsed");
        const int com = ComNumberOf(options.port);
        fuzz::Check(com >= -1 && com <= 8, "a COM number is 1-8, 0 or -1");
        plan = MakePlan(options.words);
    } catch (const UsageError& e) {
        fuzz::Check(!e.text.empty(), "a usage error says why");
        return 0;
    }
    fuzz::Check(plan.command == "sync" ? !plan.sync_file.empty() : plan.sync_file.empty(), "only sync has a file");
    // The steps run against a link in virtual mode: nothing is sent and each succeeds.
    RS232c_bios link;
    link.SetVirtualMode(1);
    for (const Step& step : plan.steps) {
        fuzz::Check(PrintableJson(JsonString(step.command)), "JSON strings are printable ASCII");
        fuzz::Check(step.run(link) == 1, "every step succeeds in virtual mode");
    }
    if (plan.sync_file == "-") CheckStandardInput(input);
    fuzz::Check(fuzz::fatal_exits == 0, "no fatal exit");
    return 0;
}
