#include "engine/browse.h"

#include <algorithm>
#include <cctype>

#include "library/libraries.h"

namespace morvane {

namespace {

int CompareText(const std::string& a, const std::string& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const int ca = std::tolower(static_cast<unsigned char>(a[i])), cb = std::tolower(static_cast<unsigned char>(b[i]));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

template <typename T>
int CompareNumber(T a, T b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

// A row and the key it sorts by; the category is worked out once per row, not once
// per comparison.
struct SortRow {
    const LibraryEntry* entry;
    std::string category;
};

int CompareBy(BrowserColumn column, const SortRow& a, const SortRow& b) {
    const LibraryEntry &x = *a.entry, &y = *b.entry;
    switch (column) {
        case BrowserColumn::Duration: return CompareNumber(x.duration, y.duration);
        case BrowserColumn::Rate: return CompareNumber(x.sampleRate, y.sampleRate);
        case BrowserColumn::Channels: return CompareNumber(x.channels, y.channels);
        case BrowserColumn::BitDepth: return CompareNumber(x.bitDepth, y.bitDepth);
        case BrowserColumn::Category: return CompareText(a.category, b.category);
        case BrowserColumn::Description: return CompareText(x.description, y.description);
        case BrowserColumn::Keywords: return CompareText(x.keywords, y.keywords);
        case BrowserColumn::Name: break;
    }
    return 0;
}

}  // namespace

bool EntryMatchesTerms(const LibraryEntry& entry, const std::vector<KeywordTerm>& terms) {
    bool anyPlain = false, plainFound = false;
    for (const KeywordTerm& term : terms) {
        const bool found = TermMatchCount(term.word, entry) > 0;
        if (term.kind == TermKind::Required && !found) return false;
        if (term.kind == TermKind::Excluded && found) return false;
        if (term.kind == TermKind::Plain) {
            anyPlain = true;
            plainFound = plainFound || found;
        }
    }
    return !anyPlain || plainFound;
}

bool EntryMatchesSearch(const LibraryEntry& entry, std::string_view search) {
    return EntryMatchesTerms(entry, ParseKeywords(search));
}

std::vector<const LibraryEntry*> BrowseEntries(const std::vector<Library>& libraries, const BrowserQuery& query) {
    // Parsed once: a search runs over every entry of libraries of 100,000 files.
    const std::vector<KeywordTerm> terms = ParseKeywords(query.search);
    std::vector<SortRow> rows;
    for (const Library& library : libraries) {
        if (query.library.empty() ? !library.enabled : library.name != query.library) continue;
        for (const LibraryEntry& entry : library.entries)
            if (terms.empty() || EntryMatchesTerms(entry, terms))
                rows.push_back({&entry, query.sortBy == BrowserColumn::Category ? UcsCatIdOfName(entry.name) : ""});
    }
    const BrowserColumn column = query.sortBy;
    const bool ascending = query.ascending;
    // Ties fall back to the name and then the path, so equal keys keep a stable,
    // readable order whichever way the column is sorted.
    std::sort(rows.begin(), rows.end(), [&](const SortRow& a, const SortRow& b) {
        int order = CompareBy(column, a, b);
        if (order == 0) order = CompareText(a.entry->name, b.entry->name);
        if (order == 0) order = a.entry->path.compare(b.entry->path);
        return ascending ? order < 0 : order > 0;
    });
    std::vector<const LibraryEntry*> out;
    out.reserve(rows.size());
    for (const SortRow& row : rows) out.push_back(row.entry);
    return out;
}

std::string LibrarySummaryLine(const Library& library) {
    if (!library.summary.empty()) return library.summary;
    const size_t n = library.entries.size();
    return std::to_string(n) + (n == 1 ? " file" : " files");
}

}  // namespace morvane
