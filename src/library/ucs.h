#pragma once
// The Universal Category System (UCS) table and the ways the program uses it:
// CatID prefixes of file names, best-fitting category of a set of words, and the
// coarse class of an event's keyword terms.
#include <string>
#include <string_view>
#include <vector>

namespace morvane {

// One row of the UCS list; all texts are constants built into the program.
struct UcsRow {
    const char* catId;        // mixed case, e.g. "AIRBlow"
    const char* code;         // upper case category code, e.g. "AIR"
    const char* category;     // lower case, e.g. "air"
    const char* subCategory;  // lower case, e.g. "blow"
    const char* synonyms;     // "|air|blow|aerate|...|"
};

// The published list in the standard's order (generated at build time).
extern const UcsRow kUcsRows[];
extern const int kUcsRowCount;

struct UcsCategory {
    std::string catId = "DSGNMisc";
    std::string code = "DSGN";
    std::string category = "designed";
    std::string subCategory = "misc";
};

// How an event keyword term takes part in selection: plain, required (+) or excluded (-).
enum class KeywordTermKind { Plain, Required, Excluded };

struct KeywordTerm {
    std::string text;
    KeywordTermKind kind = KeywordTermKind::Plain;
};

// The row whose CatID equals text ignoring case; nullptr for none or for texts
// shorter than 3 characters.
const UcsRow* FindUcsRow(std::string_view text);

// Equal, or the longer is the shorter (at least 3 characters) plus "s" or "es".
// Case-sensitive: callers lower-case first.
bool WordsMatch(std::string_view a, std::string_view b);

// The best-fitting category of a set of words, or the default DSGNMisc when no
// single category code wins clearly.
UcsCategory InferUcsCategory(const std::vector<std::string>& words);

// The coarse class code ("EXPL", "HIT", ...) of an event's keyword terms, or "DSGNMisc".
std::string CoarseCategoryCode(const std::vector<KeywordTerm>& terms);

// The words of a name that are neither CatIDs nor contain a digit, joined by single spaces.
std::string FxNameWords(std::string_view name);

// Maximal runs of ASCII letters and digits of a text, lower-cased.
std::vector<std::string> NameTokens(std::string_view text);

// Keywords that a CatID at the start of a file name (up to the first '_', ' ', '-'
// or '.') stands for: category, subcategory and synonyms, space separated. Empty
// when the prefix is no CatID or the row is of the designed category "DSGN".
std::vector<std::string> UcsPrefixKeywords(std::string_view fileName);

}  // namespace morvane
