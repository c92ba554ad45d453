#include "library/index_file.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "library/file_id.h"
#include "library/scan.h"
#include "platform/folders.h"

namespace morvane {

namespace {

void AppendFloat(std::string& out, float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", static_cast<double>(value));
    out += text;
}

template <typename T>
void AppendInteger(std::string& out, T value) {
    out += std::to_string(value);
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// Whole-field number parsing: a field with anything else in it is unreadable.
bool ParseFloat(std::string_view field, float* out) {
    const std::string text(field);
    if (text.empty()) return false;
    char* end = nullptr;
    const float value = std::strtof(text.c_str(), &end);
    if (end != text.c_str() + text.size()) return false;
    *out = value;
    return true;
}

bool ParseSigned(std::string_view field, long long* out) {
    const std::string text(field);
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (end != text.c_str() + text.size() || errno == ERANGE) return false;
    *out = value;
    return true;
}

bool ParseUnsigned(std::string_view field, int base, unsigned long long* out) {
    const std::string text(field);
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text.c_str(), &end, base);
    if (end != text.c_str() + text.size() || errno == ERANGE) return false;
    *out = value;
    return true;
}

bool ParseInt(std::string_view field, int low, int high, int* out) {
    long long value = 0;
    if (!ParseSigned(field, &value)) return false;
    *out = static_cast<int>(std::clamp<long long>(value, low, high));
    return true;
}

// Splits at most `count` tab-separated fields off the front of `line`; the rest of
// the line (after the last split tab) is left in `rest`.
std::vector<std::string_view> SplitFields(std::string_view line, size_t count, std::string_view* rest,
                                          bool* hasRest) {
    std::vector<std::string_view> fields;
    size_t start = 0;
    *hasRest = false;
    while (fields.size() < count) {
        const size_t tab = line.find('\t', start);
        if (tab == std::string_view::npos) {
            fields.push_back(line.substr(start));
            *rest = {};
            return fields;
        }
        fields.push_back(line.substr(start, tab - start));
        start = tab + 1;
    }
    *rest = line.substr(start);
    *hasRest = true;
    return fields;
}

// The number of tab-separated fields before the free text, by index version.
size_t NumberedFields(int version) {
    if (version >= 8) return 36;  // version 9 adds keywords after the description
    if (version >= 7) return 35;
    if (version >= 6) return 34;
    if (version >= 5) return 33;
    if (version >= 4) return 32;
    return 29;
}

bool ParseRecord(std::string_view line, int version, LibraryEntry* entry) {
    std::string_view rest;
    bool hasRest = false;
    const size_t numbered = NumberedFields(version);
    const std::vector<std::string_view> fields = SplitFields(line, numbered, &rest, &hasRest);
    if (fields.size() < numbered) return false;
    LibraryEntry e;
    const LibraryEntry defaults;
    e.path = UnescapeIndexText(fields[0]);
    e.name = UnescapeIndexText(fields[1]);
    float* floats[] = {&e.duration, &e.sampleRate};
    if (!ParseFloat(fields[2], floats[0]) || !ParseFloat(fields[3], floats[1])) return false;
    if (!ParseInt(fields[4], 0, 1 << 16, &e.channels) || !ParseInt(fields[5], 0, 64, &e.bitDepth)) return false;
    for (int i = 0; i < 16; ++i)
        if (!ParseFloat(fields[static_cast<size_t>(6 + i)], &e.features[i])) return false;
    if (!ParseInt(fields[22], -1, 127, &e.midiNote)) return false;
    float* tail[] = {&e.pitchCents, &e.pitchConfidence, &e.spectralFlatness, &e.harmonicity,
                     &e.onsetPosition, &e.attackTime};
    for (int i = 0; i < 6; ++i)
        if (!ParseFloat(fields[static_cast<size_t>(23 + i)], tail[i])) return false;
    if (version >= 4) {
        e.fileId = std::string(fields[29]);
        unsigned long long hash = 0, size = 0;
        if (!ParseUnsigned(fields[30], 16, &hash) || !ParseUnsigned(fields[31], 10, &size)) return false;
        e.contentHash = hash;
        e.fileSize = size;
    }
    if (version >= 5) {
        long long modified = 0;
        if (!ParseSigned(fields[32], &modified)) return false;
        e.modifiedTime = modified;
    }
    if (version >= 6) {
        unsigned long long group = 0;
        if (!ParseUnsigned(fields[33], 10, &group)) return false;
        e.groupId = group;
    }
    if (version >= 7 && !ParseInt(fields[34], -1, 10, &e.channelLayout)) return false;
    if (version >= 8 && !ParseInt(fields[35], 0, 3, &e.channelInterpretation)) return false;
    if (version >= 9) {
        const size_t tab = rest.find('\t');
        e.description = UnescapeIndexText(rest.substr(0, tab));
        if (tab != std::string_view::npos) e.keywords = UnescapeIndexText(rest.substr(tab + 1));
    } else {
        e.description = UnescapeIndexText(rest);
    }
    // Numbers from an edited or damaged file must not poison later arithmetic.
    auto finite = [](float& value, float fallback) {
        if (!std::isfinite(value)) value = fallback;
    };
    finite(e.duration, 0.0f);
    finite(e.sampleRate, 0.0f);
    if (e.duration < 0.0f) e.duration = 0.0f;
    if (e.sampleRate < 0.0f) e.sampleRate = 0.0f;
    for (int i = 0; i < kFeatureCount; ++i) finite(e.features[i], defaults.features[i]);
    for (float* value : tail) finite(*value, 0.0f);
    *entry = std::move(e);
    return true;
}

}  // namespace

std::string EscapeIndexText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            default: out += c;
        }
    }
    return out;
}

std::string UnescapeIndexText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            const char next = text[i + 1];
            const char plain = next == '\\' ? '\\' : next == 't' ? '\t' : next == 'n' ? '\n' : next == 'r' ? '\r' : 0;
            if (plain != 0) {
                out += plain;
                ++i;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

std::string SerializeLibraryIndex(const Library& library) {
    std::string out = "# Morvane SFX Library v9\n";
    out += "# folder: " + EscapeIndexText(library.folder) + "\n";
    out += "# files: " + std::to_string(library.entries.size()) + "\n";
    if (library.scanned > 0) out += "# scanned: " + std::to_string(library.scanned) + "\n";
    if (library.savedPalette) out += "# savedPalette: 1\n";
    if (library.channelInterpretation != 0)
        out += "# paletteInterpret: " + std::to_string(library.channelInterpretation) + "\n";
    if (library.disableGrouping) out += "# mmDisableGrouping: 1\n";
    for (const std::string& name : library.previousNames) out += "# previousName: " + EscapeIndexText(name) + "\n";
    for (const LibraryEntry& e : library.entries) {
        out += EscapeIndexText(e.path);
        out += '\t';
        out += EscapeIndexText(e.name);
        out += '\t';
        AppendFloat(out, e.duration);
        out += '\t';
        AppendFloat(out, e.sampleRate);
        out += '\t';
        AppendInteger(out, e.channels);
        out += '\t';
        AppendInteger(out, e.bitDepth);
        for (float feature : e.features) {
            out += '\t';
            AppendFloat(out, feature);
        }
        out += '\t';
        AppendInteger(out, e.midiNote);
        for (float value : {e.pitchCents, e.pitchConfidence, e.spectralFlatness, e.harmonicity, e.onsetPosition,
                            e.attackTime}) {
            out += '\t';
            AppendFloat(out, value);
        }
        out += '\t';
        // An identity that could break the record apart is not one we made; drop it.
        if (e.fileId.find_first_of("\t\r\n") == std::string::npos) out += e.fileId;
        char hash[24];
        std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(e.contentHash));
        out += '\t';
        out += hash;
        out += '\t';
        AppendInteger(out, e.fileSize);
        out += '\t';
        AppendInteger(out, e.modifiedTime);
        out += '\t';
        AppendInteger(out, e.groupId);
        out += '\t';
        AppendInteger(out, e.channelLayout);
        out += '\t';
        AppendInteger(out, e.channelInterpretation);
        out += '\t';
        out += EscapeIndexText(e.description);
        out += '\t';
        out += EscapeIndexText(e.keywords);
        out += '\n';
    }
    return out;
}

void ParseLibraryIndex(std::string_view text, Library& library, bool registerIdentities) {
    // Everything the file describes comes from the file alone.
    library.entries.clear();
    library.folder.clear();
    library.scanned = 0;
    library.savedPalette = false;
    library.channelInterpretation = 0;
    library.disableGrouping = false;
    library.previousNames.clear();
    int version = 3;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        // A file that went through a Windows editor ends its lines with CR LF; a raw
        // CR is never part of a record (the writer escapes it).
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        if (line[0] == '#') {
            long long number = 0;
            if (StartsWith(line, "# Morvane SFX Library v")) {
                if (ParseSigned(line.substr(23), &number)) version = static_cast<int>(std::clamp<long long>(number, 3, 9));
            } else if (StartsWith(line, "# folder: ")) {
                library.folder = UnescapeIndexText(line.substr(10));
            } else if (StartsWith(line, "# scanned: ")) {
                if (ParseSigned(line.substr(11), &number)) library.scanned = number;
            } else if (StartsWith(line, "# savedPalette: ")) {
                library.savedPalette = true;
            } else if (StartsWith(line, "# paletteInterpret: ")) {
                if (ParseSigned(line.substr(20), &number))
                    library.channelInterpretation = static_cast<int>(std::clamp<long long>(number, 0, 3));
            } else if (StartsWith(line, "# mmDisableGrouping: ")) {
                library.disableGrouping = true;
            } else if (StartsWith(line, "# previousName: ")) {
                library.previousNames.push_back(UnescapeIndexText(line.substr(16)));
            }
            continue;
        }
        LibraryEntry entry;
        if (!ParseRecord(line, version, &entry) || entry.path.empty()) continue;
        if (registerIdentities && !entry.fileId.empty())
            RegisterFileId(entry.fileId, entry.path, entry.contentHash, entry.fileSize);
        library.entries.push_back(std::move(entry));
    }
    RegroupMultiMono(library);
}

bool SaveLibraryIndex(const Library& library, const std::string& indexPath, std::string* why) {
    // A new index stays private to the user.
    const AtomicWriteResult written = ReplaceFileAtomically(indexPath, SerializeLibraryIndex(library), "", 0600);
    if (!written.ok && why != nullptr) *why = std::strerror(written.error != 0 ? written.error : EIO);
    return written.ok;
}

bool LoadLibraryIndex(const std::string& indexPath, Library& library) {
    std::ifstream file(indexPath, std::ios::binary);
    if (!file) return false;
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) return false;
    library.name = std::filesystem::path(indexPath).stem().string();
    ParseLibraryIndex(text.str(), library, true);
    return true;
}

}  // namespace morvane
