// The user's PATH as the Windows setup program edits it: folders separated by ';'. The setup
// adds its program folder when no entry is that folder yet, and the uninstaller takes out the
// entries that are it; every other byte of the list stays as it was, however long the list.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace dpx {

// What two entries are compared by. The program on Windows expands variables and folds case
// as the file system does before FolderKey; FolderKey alone is the comparison without them.
using PathKey = std::function<std::wstring(std::wstring_view entry)>;

// An entry as a folder: quotes and trailing separators off, '/' as '\', ASCII letters in lower
// case ("C:\Tools\" and "c:/tools" are one folder).
std::wstring FolderKey(std::wstring_view entry);

// `list` with `folder` appended as its last entry (before a trailing separator, which stays),
// or nothing when an entry already is that folder. WithoutFolder gives `list` back from it.
std::optional<std::wstring> WithFolder(std::wstring_view list, std::wstring_view folder,
                                       const PathKey& key = FolderKey);

// `list` without the entries that are `folder`, each taken out with one separator beside it,
// or nothing when no entry is that folder.
std::optional<std::wstring> WithoutFolder(std::wstring_view list, std::wstring_view folder,
                                          const PathKey& key = FolderKey);

}  // namespace dpx
