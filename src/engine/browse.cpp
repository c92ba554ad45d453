#include "engine/browse.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "library/libraries.h"

namespace morvane {

namespace {

std::string Lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

template <typename T>
int CompareNumber(T a, T b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

// A row and the keys it sorts by, lower-cased once per row rather than once per
// comparison: a library of 100,000 files sorts in a fraction of the time.
struct SortRow {
    const LibraryEntry* entry;
    std::string name;  // the tie-breaker of every column
    std::string text;  // the sorted column's text, for the text columns
};

std::string ColumnText(BrowserColumn column, const LibraryEntry& entry) {
    switch (column) {
        case BrowserColumn::Category: return Lowered(UcsCatIdOfName(entry.name));
        case BrowserColumn::Description: return Lowered(entry.description);
        case BrowserColumn::Keywords: return Lowered(entry.keywords);
        default: return {};
    }
}

int CompareBy(BrowserColumn column, const SortRow& a, const SortRow& b) {
    const LibraryEntry &x = *a.entry, &y = *b.entry;
    switch (column) {
        case BrowserColumn::Duration: return CompareNumber(x.duration, y.duration);
        case BrowserColumn::Rate: return CompareNumber(x.sampleRate, y.sampleRate);
        case BrowserColumn::Channels: return CompareNumber(x.channels, y.channels);
        case BrowserColumn::BitDepth: return CompareNumber(x.bitDepth, y.bitDepth);
        case BrowserColumn::Category:
        case BrowserColumn::Description:
        case BrowserColumn::Keywords: return a.text.compare(b.text);
        case BrowserColumn::Name: break;
    }
    return 0;
}

// A search term ready for the quick test: a case-blind whole-word match needs the
// lower-cased word (without its "*") somewhere in the lower-cased texts, so an entry
// whose texts lack it is settled without the word-by-word comparison.
struct PreparedTerm {
    const KeywordTerm* term;
    std::string needle;
};

const std::array<char, 256>& LowerTable() {
    static const std::array<char, 256> table = [] {
        std::array<char, 256> t{};
        for (int c = 0; c < 256; ++c) t[static_cast<size_t>(c)] = static_cast<char>(std::tolower(c));
        return t;
    }();
    return table;
}

// The entry's searched texts, lower-cased into `out` (reused between entries).
void LowerTexts(const LibraryEntry& entry, std::string& out) {
    const std::array<char, 256>& lower = LowerTable();
    out.clear();
    for (const std::string* text : {&entry.name, &entry.path, &entry.description, &entry.keywords}) {
        for (char c : *text) out.push_back(lower[static_cast<unsigned char>(c)]);
        out.push_back('\n');
    }
}

TermKind KindOf(const KeywordTerm& term) { return term.kind; }
TermKind KindOf(const PreparedTerm& prepared) { return prepared.term->kind; }

// The search's rule over terms whose presence `found(i)` gives: every required term
// found, no excluded one, and one of the plain terms when there are any.
template <typename Terms, typename Found>
bool TermsAgree(const Terms& terms, Found found) {
    bool anyPlain = false, plainFound = false;
    for (size_t i = 0; i < terms.size(); ++i) {
        const TermKind kind = KindOf(terms[i]);
        if (kind == TermKind::Required && !found(i)) return false;
        if (kind == TermKind::Excluded && found(i)) return false;
        if (kind == TermKind::Plain) {
            anyPlain = true;
            plainFound = plainFound || found(i);
        }
    }
    return !anyPlain || plainFound;
}

bool MatchesPrepared(const LibraryEntry& entry, const std::vector<PreparedTerm>& terms, std::string& lowered) {
    LowerTexts(entry, lowered);
    return TermsAgree(terms, [&](size_t i) {
        const PreparedTerm& prepared = terms[i];
        // The lowered texts rule most files out at once; a needle too short to be
        // telling (a one-letter wildcard) is left to the word rules alone.
        if (prepared.needle.size() >= 2 && lowered.find(prepared.needle) == std::string::npos) return false;
        return TermMatchCount(prepared.term->word, entry) > 0;
    });
}

std::vector<PreparedTerm> Prepare(const std::vector<KeywordTerm>& terms) {
    std::vector<PreparedTerm> prepared;
    for (const KeywordTerm& term : terms) {
        std::string_view word = term.word;
        if (!word.empty() && word.front() == '*') word.remove_prefix(1);
        if (!word.empty() && word.back() == '*') word.remove_suffix(1);
        prepared.push_back({&term, Lowered(word)});
    }
    return prepared;
}

}  // namespace

bool EntryMatchesTerms(const LibraryEntry& entry, const std::vector<KeywordTerm>& terms) {
    return TermsAgree(terms, [&](size_t i) { return TermMatchCount(terms[i].word, entry) > 0; });
}

bool EntryMatchesSearch(const LibraryEntry& entry, std::string_view search) {
    return EntryMatchesTerms(entry, ParseKeywords(search));
}

std::vector<const LibraryEntry*> BrowseEntries(const std::vector<Library>& libraries, const BrowserQuery& query) {
    // Parsed once: a search runs over every entry of libraries of 100,000 files.
    const std::vector<KeywordTerm> terms = ParseKeywords(query.search);
    const std::vector<PreparedTerm> prepared = Prepare(terms);
    std::string lowered;
    std::vector<SortRow> rows;
    for (const Library& library : libraries) {
        if (query.library.empty() ? !library.enabled : library.name != query.library) continue;
        for (const LibraryEntry& entry : library.entries)
            if (terms.empty() || MatchesPrepared(entry, prepared, lowered))
                rows.push_back({&entry, Lowered(entry.name), ColumnText(query.sortBy, entry)});
    }
    const BrowserColumn column = query.sortBy;
    const bool ascending = query.ascending;
    // Ties fall back to the name and then the path, so equal keys keep a stable,
    // readable order whichever way the column is sorted.
    std::sort(rows.begin(), rows.end(), [&](const SortRow& a, const SortRow& b) {
        int order = CompareBy(column, a, b);
        if (order == 0) order = a.name.compare(b.name);
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
