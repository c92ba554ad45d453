#include "library/ucs.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <unordered_map>

namespace morvane {

namespace {

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool IsAlnum(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }

std::string ToLower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = Lower(c);
    return out;
}

bool HasDigit(std::string_view word) {
    return std::any_of(word.begin(), word.end(),
                       [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
}

constexpr const char* kStopWords[] = {
    "loop",     "lp",     "st",     "mono",   "stereo", "mix",   "final", "take",
    "takes",    "edit",   "master", "wav",    "aiff",   "aif",   "flac",  "seamless",
    "bounce",   "render", "export", "sfx",    "fx",     "sound", "sounds", "audio",
    "the",      "and",    "layer",  "comp",   "raw",    "designed", "design"};

bool IsStopWord(const std::string& word) {
    for (const char* stop : kStopWords)
        if (word == stop) return true;
    return false;
}

struct CoarseClass {
    const char* code;
    const char* name;
    const char* alternatives;
};

constexpr CoarseClass kCoarseClasses[] = {
    {"AMBExt", "Ambience", "ambience|ambient|atmos|room|space|outdoor|indoor|city|nature|bg"},
    {"CRASH", "Crash", "crash|smash|shatter|break|glass|ceramic|collapse"},
    {"DSGN", "Designed", "design|synth|processed|morph|texture|pad|drone|tone|abstract"},
    {"EXPL", "Explosion", "explosion|explode|boom|blast|detonate|bomb"},
    {"FIRE", "Fire", "fire|flame|burn|torch|ignite|ember"},
    {"FOL", "Foley", "foley|footstep|cloth|body|movement|rustle"},
    {"GUN", "Gunshot", "gun|shot|rifle|pistol|shotgun|bullet|muzzle|firearm"},
    {"HIT", "Impact", "hit|impact|punch|slam|thud|thump|knock|strike|stomp|kick"},
    {"MECH", "Mechanical", "mechanical|machine|motor|engine|gear|hydraulic|servo|robot"},
    {"META", "Metal", "metal|clang|ring|scrape|grind|chain|iron|steel"},
    {"MVMT", "Movement", "whoosh|swoosh|swish|flyby|passby|rush|wind|gust|sweep"},
    {"SCI", "SciFi", "scifi|sci-fi|laser|zap|beam|plasma|energy|electric|spark"},
    {"STRN", "Strain", "strain|creak|stress|tension|bend|warp"},
    {"WATR", "Water", "water|splash|drip|rain|ocean|wave|stream|pour|bubble"},
    {"WOOD", "Wood", "wood|timber|branch|crack|snap|plank"},
};

std::vector<std::string> SplitBars(std::string_view text) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('|', start);
        if (end == std::string_view::npos) end = text.size();
        if (end > start) out.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

// Name tokens of every row, made once: inference compares each word against them.
struct RowTokens {
    std::vector<std::string> category;
    std::vector<std::string> subCategory;
};

const std::vector<RowTokens>& AllRowTokens() {
    static const std::vector<RowTokens> tokens = [] {
        std::vector<RowTokens> all(static_cast<size_t>(kUcsRowCount));
        for (int i = 0; i < kUcsRowCount; ++i) {
            all[static_cast<size_t>(i)].category = NameTokens(kUcsRows[i].category);
            all[static_cast<size_t>(i)].subCategory = NameTokens(kUcsRows[i].subCategory);
        }
        return all;
    }();
    return tokens;
}

bool MatchesAny(const std::string& word, const std::vector<std::string>& tokens) {
    for (const std::string& token : tokens)
        if (WordsMatch(word, token)) return true;
    return false;
}

}  // namespace

std::vector<std::string> NameTokens(std::string_view text) {
    std::vector<std::string> tokens;
    std::string current;
    for (char c : text) {
        if (IsAlnum(c)) {
            current += Lower(c);
        } else if (!current.empty()) {
            tokens.push_back(std::move(current));
            current.clear();
        }
    }
    if (!current.empty()) tokens.push_back(std::move(current));
    return tokens;
}

const UcsRow* FindUcsRow(std::string_view text) {
    if (text.size() < 3) return nullptr;
    // Lower-cased CatID -> first row with it; names are looked up once per word of
    // every file name, so a table scan per word would add up.
    static const std::unordered_map<std::string, int> byId = [] {
        std::unordered_map<std::string, int> ids;
        for (int i = 0; i < kUcsRowCount; ++i) ids.emplace(ToLower(kUcsRows[i].catId), i);
        return ids;
    }();
    auto found = byId.find(ToLower(text));
    return found == byId.end() ? nullptr : &kUcsRows[found->second];
}

bool WordsMatch(std::string_view a, std::string_view b) {
    if (a == b) return true;
    std::string_view s = a.size() <= b.size() ? a : b;
    std::string_view l = a.size() <= b.size() ? b : a;
    if (s.size() < 3 || l.substr(0, s.size()) != s) return false;
    std::string_view rest = l.substr(s.size());
    return rest == "s" || rest == "es";
}

UcsCategory InferUcsCategory(const std::vector<std::string>& words) {
    std::vector<std::string> clean;
    for (const std::string& raw : words) {
        std::string word = ToLower(raw);
        if (word.size() < 2 || HasDigit(word) || IsStopWord(word)) continue;
        clean.push_back(std::move(word));
    }
    if (clean.empty()) return {};

    struct CodeBest {
        int best = 0;
        int second = 0;
        int row = -1;
    };
    std::vector<std::string> needles;  // "|word|", made once rather than per row
    for (const std::string& word : clean) needles.push_back("|" + word + "|");
    std::map<std::string, CodeBest> byCode;
    const std::vector<RowTokens>& tokens = AllRowTokens();
    for (int i = 0; i < kUcsRowCount; ++i) {
        const RowTokens& rowTokens = tokens[static_cast<size_t>(i)];
        const std::string_view synonyms = kUcsRows[i].synonyms;
        int score = 0;
        for (size_t w = 0; w < clean.size(); ++w) {
            const std::string& word = clean[w];
            if (MatchesAny(word, rowTokens.category)) {
                score += 6;
            } else if (MatchesAny(word, rowTokens.subCategory)) {
                score += 3;
            } else if (synonyms.find(needles[w]) != std::string_view::npos) {
                score += 1;
            }
        }
        if (score < 1) continue;
        CodeBest& code = byCode[kUcsRows[i].code];
        if (score > code.best) {
            code.second = code.best;
            code.best = score;
            code.row = i;
        } else if (score > code.second) {
            code.second = score;
        }
    }
    int top = 0;
    int reaching = 0;
    int row = -1;
    for (const auto& [code, best] : byCode) {
        if (best.best > top) {
            top = best.best;
            reaching = 1;
            row = best.row;
        } else if (best.best == top) {
            ++reaching;
        }
    }
    if (reaching != 1 || top < 3 || row < 0) return {};
    const UcsRow& found = kUcsRows[row];
    return {found.catId, found.code, found.category, found.subCategory};
}

std::string CoarseCategoryCode(const std::vector<KeywordTerm>& terms) {
    if (terms.empty()) return "DSGNMisc";
    int bestScore = 0;
    const char* bestCode = "DSGNMisc";
    for (const CoarseClass& row : kCoarseClasses) {
        const std::vector<std::string> alternatives = SplitBars(row.alternatives);
        int score = 0;
        for (const KeywordTerm& term : terms) {
            if (term.kind == KeywordTermKind::Excluded) continue;
            const std::string text = ToLower(term.text);
            // An empty term would occur inside every alternative and vote for all rows.
            if (text.empty()) continue;
            const int points = term.kind == KeywordTermKind::Required ? 3 : 2;
            for (const std::string& alternative : alternatives) {
                if (text.find(alternative) != std::string::npos ||
                    alternative.find(text) != std::string::npos)
                    score += points;
            }
        }
        if (score > bestScore) {
            bestScore = score;
            bestCode = row.code;
        }
    }
    return bestCode;
}

std::string FxNameWords(std::string_view name) {
    std::string out;
    std::string word;
    auto flush = [&] {
        if (!word.empty() && !HasDigit(word) && FindUcsRow(word) == nullptr) {
            if (!out.empty()) out += ' ';
            out += word;
        }
        word.clear();
    };
    for (char c : name) {
        if (IsAlnum(c)) {
            word += c;
        } else {
            flush();
        }
    }
    flush();
    return out;
}

std::vector<std::string> UcsPrefixKeywords(std::string_view fileName) {
    const size_t end = fileName.find_first_of("_ -.");
    const UcsRow* row = FindUcsRow(fileName.substr(0, end));
    if (row == nullptr || std::strcmp(row->code, "DSGN") == 0) return {};
    std::string synonyms = row->synonyms;
    std::replace(synonyms.begin(), synonyms.end(), '|', ' ');
    const size_t first = synonyms.find_first_not_of(' ');
    synonyms = first == std::string::npos ? std::string() : synonyms.substr(first);
    return {row->category, row->subCategory, synonyms};
}

}  // namespace morvane
