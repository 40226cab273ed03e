#pragma once
// printf into a std::string, for the message and report texts that are written with
// printf formats; and a text as a JSON string, for the tools' reports and the control API.
#include <string>

namespace dpx {

std::string Format(const char* format, ...)
#if defined(__MINGW32__)  // MinGW's own C99 printf (built with __USE_MINGW_ANSI_STDIO)
    __attribute__((format(gnu_printf, 1, 2)))
#elif defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// `text` as a JSON string, quotes included; bytes outside printable ASCII as \u00XX.
std::string JsonString(const std::string& text);

}  // namespace dpx
