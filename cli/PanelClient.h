#pragma once
// dpx20ctl --panel URL: set, sync and memory sent to a running panel or service through its
// control API instead of opening the port.
#include <string>

namespace dpx::cli {

// One answer of the control API; `error` says why there is none (refused, timed out, ...).
struct ApiAnswer {
    int status = 0;
    std::string body;
    std::string error;
};

// The longest a request may take: a synchronisation runs up to three passes.
inline constexpr int kPanelTimeoutMs = 300000;

// `method` `path` (below /api/v1) with `body` to the API at `url` (http://HOST:PORT, with or
// without /api/v1). Sends the token of DPX20_API_TOKEN, else of the user's token file when
// there is one.
ApiAnswer AskApi(const std::string& url, const std::string& method, const std::string& path, const std::string& body);

}  // namespace dpx::cli
