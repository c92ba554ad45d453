#include "library/index_file.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <charconv>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
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
// std::from_chars reads the field in place, without a copy and without the
// locale; a leading '+' (which the writer never makes) is still accepted.
std::string_view WithoutPlus(std::string_view field) {
    if (field.size() > 1 && field[0] == '+' && field[1] != '-') field.remove_prefix(1);
    return field;
}

bool ParseFloat(std::string_view field, float* out) {
    field = WithoutPlus(field);
    if (field.empty()) return false;
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), *out);
    if (error == std::errc::result_out_of_range && end == field.data() + field.size()) {
        // Beyond float or below its smallest step: take what the C library makes of
        // it, as earlier versions did (the caller cleans up what is not finite).
        *out = std::strtof(std::string(field).c_str(), nullptr);
        return true;
    }
    return error == std::errc() && end == field.data() + field.size();
}

bool ParseSigned(std::string_view field, long long* out) {
    field = WithoutPlus(field);
    if (field.empty()) return false;
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), *out);
    return error == std::errc() && end == field.data() + field.size();
}

bool ParseUnsigned(std::string_view field, int base, unsigned long long* out) {
    if (field.empty() || field[0] == '-' || field[0] == '+' || field[0] == ' ') return false;
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), *out, base);
    return error == std::errc() && end == field.data() + field.size();
}

bool ParseInt(std::string_view field, int low, int high, int* out) {
    long long value = 0;
    if (!ParseSigned(field, &value)) return false;
    *out = static_cast<int>(std::clamp<long long>(value, low, high));
    return true;
}

constexpr size_t kMaxNumberedFields = 36;

// Splits at most `count` tab-separated fields off the front of `line` into `fields`
// and returns how many there were; the rest of the line (after the last split tab)
// is left in `rest`.
size_t SplitFields(std::string_view line, size_t count, std::string_view* fields, std::string_view* rest) {
    size_t start = 0, found = 0;
    while (found < count) {
        const size_t tab = line.find('\t', start);
        if (tab == std::string_view::npos) {
            fields[found++] = line.substr(start);
            *rest = {};
            return found;
        }
        fields[found++] = line.substr(start, tab - start);
        start = tab + 1;
    }
    *rest = line.substr(start);
    return found;
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

// Fills `e`, a freshly made entry; false (with `e` half-filled) when the record
// cannot be read.
bool ParseRecord(std::string_view line, int version, LibraryEntry& e) {
    static_assert(kMaxNumberedFields >= 36, "every numbered field of the newest version fits");
    std::string_view rest;
    const size_t numbered = NumberedFields(version);
    std::string_view fields[kMaxNumberedFields];
    if (SplitFields(line, numbered, fields, &rest) < numbered) return false;
    static const LibraryEntry defaults;
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
    // Most fields hold no escape at all: one copy.
    if (text.find('\\') == std::string_view::npos) return std::string(text);
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

void AppendIndexRecord(std::string& out, const LibraryEntry& e) {
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

namespace {

// One write call per record, so a kill leaves at most the last record cut short.
bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t wrote = ::write(fd, bytes.data(), bytes.size());
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(wrote));
    }
    return true;
}

}  // namespace

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
    for (const LibraryEntry& e : library.entries) AppendIndexRecord(out, e);
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
    // One allocation for the entries: a growing vector would hold up to twice what
    // the library needs.
    library.entries.reserve(static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
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
        // Read in place: the library's own slot, given back when the record is bad.
        LibraryEntry& entry = library.entries.emplace_back();
        if (!ParseRecord(line, version, entry) || entry.path.empty()) {
            library.entries.pop_back();
            continue;
        }
        if (registerIdentities && !entry.fileId.empty())
            RegisterFileId(entry.fileId, entry.path, entry.contentHash, entry.fileSize);
    }
    library.entries.shrink_to_fit();
    RegroupMultiMono(library);
}

bool SaveLibraryIndex(const Library& library, const std::string& indexPath, std::string* why) {
    // A new index stays private to the user.
    const AtomicWriteResult written = ReplaceFileAtomically(indexPath, SerializeLibraryIndex(library), "", 0600);
    if (!written.ok && why != nullptr) *why = std::strerror(written.error != 0 ? written.error : EIO);
    return written.ok;
}

namespace {

// The whole file in one read; false when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::string* text) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info {};
    text->clear();
    if (::fstat(fd, &info) == 0 && info.st_size > 0) text->reserve(static_cast<size_t>(info.st_size));
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            ::close(fd);
            return false;
        }
        if (got == 0) break;
        text->append(buffer, static_cast<size_t>(got));
    }
    ::close(fd);
    return true;
}

// Entries of the journal replace those of the library with the same path; new paths
// join it in path order. True when the journal held any entry.
bool FoldIndexJournal(std::string_view journal, Library& library) {
    // A scan killed in the middle of an append leaves a last line without its line
    // feed: that record is incomplete and is left out.
    const size_t lastEnd = journal.rfind('\n');
    if (lastEnd == std::string_view::npos) return false;
    Library finished;
    ParseLibraryIndex(journal.substr(0, lastEnd + 1), finished, true);
    if (finished.entries.empty()) return false;
    std::unordered_map<std::string_view, size_t> byPath;
    byPath.reserve(library.entries.size());
    for (size_t i = 0; i < library.entries.size(); ++i) byPath.emplace(library.entries[i].path, i);
    std::vector<LibraryEntry> added;
    for (LibraryEntry& entry : finished.entries) {
        auto known = byPath.find(entry.path);
        if (known != byPath.end()) library.entries[known->second] = std::move(entry);
        else added.push_back(std::move(entry));
    }
    if (!added.empty()) {
        // A later record of the same path (appended by a later run) wins.
        std::stable_sort(added.begin(), added.end(),
                         [](const LibraryEntry& a, const LibraryEntry& b) { return a.path < b.path; });
        std::vector<LibraryEntry> unique;
        for (LibraryEntry& entry : added) {
            if (!unique.empty() && unique.back().path == entry.path) unique.back() = std::move(entry);
            else unique.push_back(std::move(entry));
        }
        const size_t before = library.entries.size();
        library.entries.reserve(before + unique.size());
        for (LibraryEntry& entry : unique) library.entries.push_back(std::move(entry));
        std::inplace_merge(library.entries.begin(), library.entries.begin() + static_cast<std::ptrdiff_t>(before),
                           library.entries.end(),
                           [](const LibraryEntry& a, const LibraryEntry& b) { return a.path < b.path; });
    }
    RegroupMultiMono(library);
    return true;
}

}  // namespace

bool LoadLibraryIndex(const std::string& indexPath, Library& library) {
    std::string text;
    if (!ReadWholeFile(indexPath, &text)) return false;
    library.name = std::filesystem::path(indexPath).stem().string();
    ParseLibraryIndex(text, library, true);
    if (!ReadWholeFile(IndexJournalPath(indexPath), &text)) return true;
    // What a killed scan finished joins the index now, so the journal need not be
    // read again; if the index cannot be written the journal stays for next time.
    if (!FoldIndexJournal(text, library) || SaveLibraryIndex(library, indexPath)) RemoveIndexJournal(indexPath);
    return true;
}

std::string IndexJournalPath(const std::string& indexPath) { return indexPath + ".journal"; }

bool OpenIndexJournal(const std::string& indexPath, const std::string& folder, IndexJournal* journal) {
    CloseIndexJournal(*journal);
    const int fd = ::open(IndexJournalPath(indexPath).c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    journal->fd = fd;
    struct stat info {};
    if (::fstat(fd, &info) != 0) return false;
    // The version line makes the journal readable as index text.
    if (info.st_size == 0)
        return WriteAll(fd, "# Morvane SFX Library v9\n# folder: " + EscapeIndexText(folder) + "\n");
    // A journal left by an earlier killed scan is continued; a record it cut short is
    // cut off, so the next record cannot join it into one damaged line.
    std::string text;
    if (!ReadWholeFile(IndexJournalPath(indexPath), &text)) return false;
    const size_t lastEnd = text.rfind('\n');
    const off_t whole = lastEnd == std::string::npos ? 0 : static_cast<off_t>(lastEnd + 1);
    if (whole < info.st_size && ::ftruncate(fd, whole) != 0) return false;
    return whole > 0 || WriteAll(fd, "# Morvane SFX Library v9\n# folder: " + EscapeIndexText(folder) + "\n");
}

bool AppendIndexJournal(IndexJournal& journal, const LibraryEntry& entry) {
    if (journal.fd < 0) return false;
    std::string line;
    AppendIndexRecord(line, entry);
    return WriteAll(journal.fd, line);
}

void CloseIndexJournal(IndexJournal& journal) {
    if (journal.fd >= 0) ::close(journal.fd);
    journal.fd = -1;
}

void RemoveIndexJournal(const std::string& indexPath) { ::unlink(IndexJournalPath(indexPath).c_str()); }

}  // namespace morvane
