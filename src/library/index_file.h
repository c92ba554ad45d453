#pragma once
// The library index file (.mvlib): a tab-separated text file per library, kept in
// the library-index folder and named after the library.
#include <string>
#include <string_view>

#include "library/entry.h"

namespace morvane {

constexpr int kIndexVersion = 9;

// Backslash, tab, line feed and carriage return become "\\", "\t", "\n", "\r".
std::string EscapeIndexText(std::string_view text);
std::string UnescapeIndexText(std::string_view text);

// The whole index file of a library, as written by SaveLibraryIndex.
std::string SerializeLibraryIndex(const Library& library);

// Reads index text (versions 3 to 9) into `library`: its entries are replaced, the
// header fields set from the file; `name` is left alone. Identities are entered into the
// FileIdRegistry when `registerIdentities`. Never fails: unreadable records are
// skipped. Multi-mono groups are recomputed.
void ParseLibraryIndex(std::string_view text, Library& library, bool registerIdentities);

// Writes the file in one piece (the old file stays until the new one is complete).
// False, with the system's reason in `why` when given, when it could not be written.
bool SaveLibraryIndex(const Library& library, const std::string& indexPath, std::string* why = nullptr);

// False when the file cannot be read; otherwise the library takes the file's
// records, header fields and its name (the file name without ".mvlib").
bool LoadLibraryIndex(const std::string& indexPath, Library& library);

}  // namespace morvane
