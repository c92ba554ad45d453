#pragma once
// The library index file (.mvlib): a tab-separated text file per library, kept in
// the library-index folder and named after the library, and the journal a running
// scan appends to beside it. Any thread; the journal of one index is written by one
// scan at a time.
#include <string>
#include <string_view>

#include "library/entry.h"

namespace morvane {

constexpr int kIndexVersion = 9;

// Backslash, tab, line feed and carriage return become "\\", "\t", "\n", "\r".
std::string EscapeIndexText(std::string_view text);
std::string UnescapeIndexText(std::string_view text);

// One record line (with its line feed) as the index file holds it.
void AppendIndexRecord(std::string& out, const LibraryEntry& entry);

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
// records, header fields and its name (the file name without ".mvlib"). A journal
// beside the file (left by a scan that was killed) is folded in: its entries replace
// those of the same path or join the library, the index is written with them and the
// journal removed.
bool LoadLibraryIndex(const std::string& indexPath, Library& library);

// The journal of a running scan: the record lines of the files it has analysed,
// appended one by one as they finish, beside the index ("<index>.journal"). Each file
// is written once, so keeping a scan's work costs in proportion to the library; the
// index itself is written once, at the end, and then the journal is removed. A kill
// at any moment leaves the old index whole and the journal with every finished
// record (at most the last one cut short, and that one is ignored).
struct IndexJournal {
    int fd = -1;
};
std::string IndexJournalPath(const std::string& indexPath);
// Opens for appending, creating the journal (for the library of `folder`) or
// continuing one an earlier scan left.
bool OpenIndexJournal(const std::string& indexPath, const std::string& folder, IndexJournal* journal);
// One record, in one write; false when it could not be written.
bool AppendIndexJournal(IndexJournal& journal, const LibraryEntry& entry);
void CloseIndexJournal(IndexJournal& journal);
// Once the index holds everything the journal did.
void RemoveIndexJournal(const std::string& indexPath);

}  // namespace morvane
