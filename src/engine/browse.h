#pragma once
// The Library tab's file browser as data: which library entries a search shows and in
// what order. The search uses the sound selection's own keyword rules ("+" required,
// "-" excluded, "*" lifts a word boundary, whole words otherwise), so what the browser
// finds is what an event with the same keywords would choose from.
//
// Pure functions over the libraries they are given; any thread, as long as the
// libraries do not change meanwhile (the interface thread holds them).
#include <string>
#include <string_view>
#include <vector>

#include "engine/selection.h"
#include "library/entry.h"

namespace morvane {

enum class BrowserColumn : int { Name, Duration, Rate, Channels, BitDepth, Category, Description, Keywords };
inline constexpr int kBrowserColumnCount = 8;

struct BrowserQuery {
    std::string library;  // the library shown; empty: every enabled library
    std::string search;   // keyword terms
    BrowserColumn sortBy = BrowserColumn::Name;
    bool ascending = true;
};

// True when the entry meets the terms: every required term found, no excluded term
// found, and at least one plain term found when there are plain terms. No terms
// match everything. The required and excluded terms are the build's own filter; the
// plain ones only rank in a build, here at least one must be found.
bool EntryMatchesTerms(const LibraryEntry& entry, const std::vector<KeywordTerm>& terms);
bool EntryMatchesSearch(const LibraryEntry& entry, std::string_view search);

// The entries the query shows, sorted; ties fall back to the name, then the path.
std::vector<const LibraryEntry*> BrowseEntries(const std::vector<Library>& libraries, const BrowserQuery& query);

// "81 files, bright and sub-heavy, sustained, medium": the library's summary, or its
// file count when it has none yet.
std::string LibrarySummaryLine(const Library& library);

}  // namespace morvane
