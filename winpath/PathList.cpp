#include "winpath/PathList.h"

#include <vector>

namespace dpx {
namespace {

std::vector<std::wstring_view> Entries(std::wstring_view list) {
    std::vector<std::wstring_view> entries;
    for (size_t start = 0;;) {
        const size_t end = list.find(L';', start);
        entries.push_back(list.substr(start, end == std::wstring_view::npos ? end : end - start));
        if (end == std::wstring_view::npos) return entries;
        start = end + 1;
    }
}

}  // namespace

std::wstring FolderKey(std::wstring_view entry) {
    std::wstring key;
    for (wchar_t c : entry) {
        if (c == L'"') continue;
        if (c == L'/') c = L'\\';
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
        key.push_back(c);
    }
    // "C:\" keeps its separator: "C:" alone is the current folder of drive C.
    while (key.size() > 1 && key.back() == L'\\' && key[key.size() - 2] != L':') key.pop_back();
    return key;
}

std::optional<std::wstring> WithFolder(std::wstring_view list, std::wstring_view folder, const PathKey& key) {
    const std::wstring wanted = key(folder);
    for (const std::wstring_view entry : Entries(list))
        if (key(entry) == wanted) return std::nullopt;
    // After a trailing separator the folder goes before a new one, where taking it out again
    // (with the separator before it) gives back the list as it was.
    std::wstring out(list);
    if (out.empty()) return out += folder;
    if (out.back() == L';') return (out += folder) += L';';
    return (out += L';') += folder;
}

std::optional<std::wstring> WithoutFolder(std::wstring_view list, std::wstring_view folder, const PathKey& key) {
    const std::wstring wanted = key(folder);
    std::wstring out;
    bool found = false, first = true;
    // Joining the other entries again takes each one out with the separator before it, or
    // after it when it is the first.
    for (const std::wstring_view entry : Entries(list)) {
        if (key(entry) == wanted) {
            found = true;
            continue;
        }
        if (!first) out += L';';
        out += entry;
        first = false;
    }
    if (!found) return std::nullopt;
    return out;
}

}  // namespace dpx
