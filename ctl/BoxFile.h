#pragma once
// A box of `dpx20ctl serve --box NAME=PORT`: the rule for its name, and its folder's own file
// `box.ini`, which gives the label and location the page, /boxes, /health and the events show:
//
//   # what the operators see of this box
//   label = Camera 1 – stage left
//   location = Rack A, shelf 2
//
// Names, labels and locations are UTF-8. Qt-free, so that it is fuzzed.
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace dpx::cli {

// The box file's name in a box's folder.
inline constexpr char kBoxFileName[] = "box.ini";
// The longest label or location taken, in characters.
inline constexpr std::size_t kBoxTextLimit = 64;

// A box's name: 1 to 32 characters, each a letter or digit of any script (UTF-8), '-' or
// '_'. It is a folder's name and a part of the API's paths.
bool ValidBoxName(std::string_view name);

// Whether `text` is UTF-8 of at most `limit` characters without control characters.
bool PlainText(std::string_view text, std::size_t limit);

struct BoxFile {
    std::string label;
    std::string location;
    std::vector<std::string> problems;  // lines not taken, each said with its line number
};
// Reads the file's text: "key = value" lines, '#' comments and empty lines.
BoxFile ParseBoxFile(std::string_view text);
// Reads `folder`/box.ini; a missing file gives an empty label and location, one that cannot
// be read a problem.
BoxFile ReadBoxFile(const std::filesystem::path& folder);

}  // namespace dpx::cli
