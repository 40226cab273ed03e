#pragma once
// What an operator at the rack reads: the connection in one word, a setting's name, and a
// refusal of the control API said without the link's jargon. The link's result codes stay in
// the answers for scripts; these texts are beside them ("operator_text"). Qt-free.
#include <string>
#include <string_view>

#include "api/ApiJson.h"
#include "session/Session.h"

namespace dpx::api {

// "connected", "not answering" (logged in, the last transaction heard nothing) or
// "disconnected", as the session last told it.
const char* ConnectionName(const SessionView& view);

// The name an operator knows a setting by ("Back light" for sys_bk_light); the key itself for
// one without a name.
std::string SettingLabel(std::string_view key);

// The refusal `answer` (a failed answer of the control API) to the request for `path` (below
// /api/v1, without /boxes/NAME) in an operator's words: "Memory 3 is empty", "not connected",
// "Back light: the box refused the value (NAK parameter error)", ...
std::string OperatorText(std::string_view path, int status, const Json& answer);

}  // namespace dpx::api
