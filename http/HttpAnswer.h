#pragma once
// One answer of the control API as HTTP/1.1 bytes: status line, the headers every answer has
// (type, no caching, what a browser may do with it, its length), and those its status asks
// for (WWW-Authenticate on 401, Retry-After when the client should try again, Allow on 405).
#include <QByteArray>

#include "api/ControlApi.h"

namespace dpx::api {

// The head and body of `response`. `head_only` (HEAD) leaves the body out; `close` says that
// the connection ends after it.
QByteArray EncodeAnswer(const Response& response, bool head_only, bool close);

}  // namespace dpx::api
