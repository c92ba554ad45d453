#include "library/audio_file.h"

#include <sndfile.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <system_error>

#include "library/channel_map.h"
#include "library/file_id.h"
#include "library/ucs.h"
#include "platform/regular_file.h"
#include "platform/utf8.h"

namespace morvane {

namespace {

std::atomic<uint64_t> gOpenCount{0};

// Every read of a sound file goes through this, so the opens can be counted and
// no handle outlives the call that made it. libsndfile would open whatever the path
// names, and opening a named pipe waits for a writer forever: the descriptor is opened
// here without blocking and handed over only when it is a regular file, which is also
// the only kind libsndfile can seek in. (On failure sf_open_fd closes it.)
struct SoundFile {
    SNDFILE* file = nullptr;
    SF_INFO info{};
    explicit SoundFile(const std::string& path) {
        gOpenCount.fetch_add(1, std::memory_order_relaxed);
        const int descriptor = OpenRegularFileForReading(path, nullptr);
        if (descriptor < 0) return;
        file = sf_open_fd(descriptor, SFM_READ, &info, SF_TRUE);
        if (file != nullptr && (info.frames < 1 || info.samplerate < 1 || info.channels < 1)) {
            sf_close(file);
            file = nullptr;
        }
    }
    ~SoundFile() {
        if (file != nullptr) sf_close(file);
    }
    SoundFile(const SoundFile&) = delete;
    SoundFile& operator=(const SoundFile&) = delete;
    explicit operator bool() const { return file != nullptr; }
};

// The file's own channel map, where libsndfile's report of it can be trusted. Its AIFF
// and CAF readers size the stored map from the layout the file names (AIFF even before
// the channel count is known, when the CHAN chunk comes first), yet the query copies one
// entry per channel out of it: past the end of that block whenever the two differ, and
// the roles would come from whatever lies there. Those containers fall back to the
// default order of their channel count; WAV-family maps are sized by the channel count.
std::vector<int> TrustedChannelMap(SNDFILE* file, const SF_INFO& info) {
    const int container = info.format & SF_FORMAT_TYPEMASK;
    if (info.channels <= 2 || container == SF_FORMAT_AIFF || container == SF_FORMAT_CAF) return {};
    std::vector<int> map(static_cast<size_t>(info.channels), 0);
    if (sf_command(file, SFC_GET_CHANNEL_MAP_INFO, map.data(), static_cast<int>(map.size() * sizeof(int))) != SF_TRUE)
        return {};
    return map;
}

int BitDepthOf(int format) {
    switch (format & 0xFFFF) {
        case 1:
        case 5: return 8;
        case 3: return 24;
        case 4:
        case 6: return 32;
        case 7: return 64;
        default: return 16;
    }
}

// Leap seconds inserted into UTC since 1970, as the first civil day after each.
int64_t LeapSecondsBefore(int64_t systemSeconds) {
    using namespace std::chrono;
    static const year_month_day kInserted[] = {
        1972y / July / 1, 1973y / January / 1, 1974y / January / 1, 1975y / January / 1, 1976y / January / 1,
        1977y / January / 1, 1978y / January / 1, 1979y / January / 1, 1980y / January / 1, 1981y / July / 1,
        1982y / July / 1, 1983y / July / 1, 1985y / July / 1, 1988y / January / 1, 1990y / January / 1,
        1991y / January / 1, 1992y / July / 1, 1993y / July / 1, 1994y / July / 1, 1996y / January / 1,
        1997y / July / 1, 1999y / January / 1, 2006y / January / 1, 2009y / January / 1, 2012y / July / 1,
        2015y / July / 1, 2017y / January / 1};
    int64_t count = 0;
    for (const year_month_day& day : kInserted) {
        const int64_t at = duration_cast<seconds>(sys_days(day).time_since_epoch()).count();
        if (systemSeconds >= at) ++count;
    }
    return count;
}

const char* Entity(std::string_view text, size_t at, size_t* length) {
    static const struct {
        const char* name;
        const char* value;
    } kEntities[] = {{"&amp;", "&"}, {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&apos;", "'"}};
    for (const auto& entity : kEntities) {
        const size_t n = std::strlen(entity.name);
        if (text.compare(at, n, entity.name) == 0) {
            *length = n;
            return entity.value;
        }
    }
    return nullptr;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// Position of the next tag "<prefix name" (prefix "" or "/") from `from` whose name
// ends at '>', '/' or whitespace; npos when none.
size_t FindTag(std::string_view xml, std::string_view prefix, std::string_view name, size_t from) {
    const size_t nameLength = 1 + prefix.size() + name.size();
    for (size_t at = xml.find('<', from); at != std::string_view::npos; at = xml.find('<', at + 1)) {
        if (xml.size() - at <= nameLength) return std::string_view::npos;
        if (xml.compare(at + 1, prefix.size(), prefix) != 0) continue;
        if (!EqualsIgnoringCase(xml.substr(at + 1 + prefix.size(), name.size()), name)) continue;
        const char next = xml[at + nameLength];
        if (next == '>' || next == '/' || next == ' ' || next == '\t' || next == '\r' || next == '\n') return at;
    }
    return std::string_view::npos;
}


}  // namespace

std::string MetadataText(std::string_view bytes) {
    if (IsValidUtf8(bytes)) return std::string(bytes);
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const unsigned char byte = static_cast<unsigned char>(c);
        AppendUtf8(text, Windows1252Character(byte));
    }
    return text;
}

bool IsSupportedAudioFile(std::string_view extension) {
    static const char* const kExtensions[] = {".wav", ".aif", ".aiff", ".aifc", ".caf", ".w64", ".rf64", ".au",
                                              ".snd", ".raw", ".sd2",  ".paf", ".iff",  ".svx"};
    std::string lower(extension);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const char* known : kExtensions)
        if (lower == known) return true;
    return false;
}

void AppendUniqueWord(std::string& target, std::string_view text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n'))
        text.remove_suffix(1);
    if (text.empty() || target.find(text) != std::string::npos) return;
    if (!target.empty()) target += ' ';
    target += text;
}

bool IxmlElementText(std::string_view xml, std::string_view name, std::string* out) {
    const size_t open = FindTag(xml, "", name, 0);
    if (open == std::string_view::npos) return false;
    const size_t openEnd = xml.find('>', open);
    if (openEnd == std::string_view::npos) return false;
    out->clear();
    if (xml[openEnd - 1] == '/') return true;  // <Name/> holds nothing
    const size_t close = FindTag(xml, "/", name, openEnd + 1);
    if (close == std::string_view::npos) return false;
    const std::string_view content = xml.substr(openEnd + 1, close - openEnd - 1);
    for (size_t i = 0; i < content.size(); ++i) {
        size_t length = 0;
        const char* value = content[i] == '&' ? Entity(content, i, &length) : nullptr;
        if (value != nullptr) {
            *out += value;
            i += length - 1;
        } else {
            *out += content[i];
        }
    }
    return true;
}

void ExtractIxmlText(std::string_view xml, std::string& description, std::string& keywords) {
    std::string text;
    for (const char* name : {"Description", "Notes"})
        if (IxmlElementText(xml, name, &text)) AppendUniqueWord(description, text);
    for (const char* name : {"Keywords", "Category", "SubCategory", "CatID"})
        if (IxmlElementText(xml, name, &text)) AppendUniqueWord(keywords, text);
}

std::string BextDescriptionText(const char* field, size_t size) {
    size = std::min<size_t>(size, 256);
    const void* zero = std::memchr(field, 0, size);
    return MetadataText(std::string_view(field, zero != nullptr ? static_cast<const char*>(zero) - field : size));
}

int64_t FileModifiedTime(const std::string& path) {
    std::error_code error;
    const auto written = std::filesystem::last_write_time(path, error);
    if (error) return 0;
    const auto system = std::chrono::file_clock::to_sys(written);
    const int64_t seconds = std::chrono::floor<std::chrono::seconds>(system).time_since_epoch().count();
    return seconds + LeapSecondsBefore(seconds);
}

uint64_t AudioFileOpenCount() { return gOpenCount.load(std::memory_order_relaxed); }

std::vector<int> SoundFileChannelMap(const std::string& path) {
    SoundFile sound(path);
    return sound ? TrustedChannelMap(sound.file, sound.info) : std::vector<int>{};
}

std::string SoundFileRefusal(const std::string& path) {
    if (path.empty()) return {};
    const std::string why = ProblemWithPresentFile(path);
    return why.empty() ? std::string() : "cannot read \"" + path + "\": " + why;
}

std::string RefusedSoundFileOf(const TimelineState& timeline) {
    std::vector<const std::string*> named;
    for (const Layer& layer : timeline.results)
        for (const std::string* path : {&layer.filepath, &layer.alloyMid.filepath, &layer.alloyHigh.filepath, &layer.alloyEnv.filepath})
            named.push_back(path);
    for (const Event& event : timeline.events) {
        named.push_back(&event.pinnedFile);
        for (const std::string& path : event.pinnedFiles) named.push_back(&path);
    }
    for (const std::string* path : named)
        if (std::string refusal = SoundFileRefusal(*path); !refusal.empty()) return refusal;
    return {};
}

bool AnalyzeFile(const std::string& path, LibraryEntry& entry, AnalysisContext* context) {
    SoundFile sound(path);
    if (!sound) return false;
    const SF_INFO& info = sound.info;
    entry.path = path;
    entry.name = std::filesystem::path(path).stem().string();
    entry.sampleRate = static_cast<float>(info.samplerate);
    entry.channels = info.channels;
    entry.bitDepth = BitDepthOf(info.format);
    entry.duration = static_cast<float>(static_cast<double>(info.frames) / info.samplerate);
    entry.modifiedTime = FileModifiedTime(path);

    const ChannelMap map =
        InterpretChannelMap(info.channels, TrustedChannelMap(sound.file, info), kOrderSmpte, kInterpretAuto);
    entry.channelLayout = map.explicitLayout ? LayoutClass(map, info.channels) : -1;

    uint64_t hash = 0, size = 0;
    if (contentHash(path, &hash, &size)) {
        entry.fileId = AssignFileId(path, hash, size);
        entry.contentHash = hash;
        entry.fileSize = size;
    }

    SF_BROADCAST_INFO bext{};
    if (sf_command(sound.file, SFC_GET_BROADCAST_INFO, &bext, sizeof bext) == SF_TRUE)
        entry.description = BextDescriptionText(bext.description, sizeof bext.description);

    auto text = [&](int kind) -> std::string {
        const char* value = sf_get_string(sound.file, kind);
        return value != nullptr ? MetadataText(value) : std::string();
    };
    if (!text(SF_STR_COMMENT).empty()) AppendUniqueWord(entry.description, text(SF_STR_COMMENT));
    if (!text(SF_STR_TITLE).empty()) {
        AppendUniqueWord(entry.keywords, text(SF_STR_TITLE));
        if (entry.description.empty()) entry.description = text(SF_STR_TITLE);
    }
    for (int kind : {SF_STR_ARTIST, SF_STR_ALBUM, SF_STR_GENRE})
        if (!text(kind).empty()) AppendUniqueWord(entry.keywords, text(kind));

    SF_CHUNK_INFO wanted{};
    std::memcpy(wanted.id, "iXML", 4);
    wanted.id_size = 4;
    if (SF_CHUNK_ITERATOR* chunk = sf_get_chunk_iterator(sound.file, &wanted)) {
        SF_CHUNK_INFO found{};
        if (sf_get_chunk_size(chunk, &found) == SF_ERR_NO_ERROR && found.datalen >= 1 && found.datalen <= 0x100000) {
            std::string xml(found.datalen, '\0');
            found.data = xml.data();
            if (sf_get_chunk_data(chunk, &found) == SF_ERR_NO_ERROR) {
                xml.resize(std::min<size_t>(xml.size(), found.datalen));
                ExtractIxmlText(MetadataText(xml), entry.description, entry.keywords);
            }
        }
    }

    for (const std::string& word : UcsPrefixKeywords(entry.name)) AppendUniqueWord(entry.keywords, word);

    SNDFILE* file = sound.file;
    const FrameReader read = [file](float* buffer, int64_t frames) -> int64_t {
        return sf_readf_float(file, buffer, frames);
    };
    return ComputeFeatures(read, info.frames, info.samplerate, info.channels, context, entry);
}

namespace {

std::mutex gOverviewMutex;
std::map<std::string, WaveformOverview> gOverviews;
std::mutex gEnvelopeMutex;
std::map<std::string, std::vector<float>> gEnvelopes;

constexpr int64_t kReadBlock = 8192;

// An envelope of a damaged header claiming years of audio must not take the memory
// with it: past this many points the file is treated as unreadable.
constexpr int64_t kMaxEnvelopePoints = int64_t{1} << 22;

WaveformOverview MakeOverview(const std::string& path) {
    WaveformOverview overview;
    SoundFile sound(path);
    if (!sound) return overview;
    const SF_INFO& info = sound.info;
    overview.duration = static_cast<float>(static_cast<double>(info.frames) / info.samplerate);
    overview.sampleRate = static_cast<float>(info.samplerate);
    const int points = static_cast<int>(std::clamp<double>(std::round(static_cast<double>(overview.duration) * 200.0), 64, 16000));
    const int64_t perPoint = std::max<int64_t>(1, info.frames / points);
    overview.peak.assign(static_cast<size_t>(points), 0.0f);
    overview.rms.assign(static_cast<size_t>(points), 0.0f);
    const int channels = info.channels;
    std::vector<float> buffer(static_cast<size_t>(std::min<int64_t>(perPoint, kReadBlock)) * static_cast<size_t>(channels));
    for (int p = 0; p < points; ++p) {
        double peak = 0.0, squares = 0.0;
        int64_t values = 0, remaining = perPoint;
        bool ended = false;
        while (remaining > 0) {
            const int64_t want = std::min<int64_t>(remaining, kReadBlock);
            const int64_t got = sf_readf_float(sound.file, buffer.data(), want);
            if (got <= 0) {
                ended = true;
                break;
            }
            for (int64_t i = 0; i < got * channels; ++i) {
                const double x = buffer[static_cast<size_t>(i)];
                if (!std::isfinite(x)) continue;
                peak = std::max(peak, std::fabs(x));
                squares += x * x;
            }
            values += got * channels;
            remaining -= got;
            if (got < want) {
                ended = true;
                break;
            }
        }
        overview.peak[static_cast<size_t>(p)] = static_cast<float>(peak);
        overview.rms[static_cast<size_t>(p)] = values > 0 ? static_cast<float>(std::sqrt(squares / values)) : 0.0f;
        if (ended) break;
    }
    return overview;
}

}  // namespace

void ComputeWaveformOverview(const std::string& path) {
    {
        std::lock_guard<std::mutex> lock(gOverviewMutex);
        if (gOverviews.count(path) != 0) return;
    }
    WaveformOverview overview = MakeOverview(path);
    std::lock_guard<std::mutex> lock(gOverviewMutex);
    gOverviews.emplace(path, std::move(overview));
}

bool FindWaveformOverview(const std::string& path, WaveformOverview* out) {
    std::lock_guard<std::mutex> lock(gOverviewMutex);
    auto found = gOverviews.find(path);
    if (found == gOverviews.end() || found->second.peak.empty()) return false;
    *out = found->second;
    return true;
}

std::vector<float> LoudnessEnvelope(const std::string& path, float pointsPerSecond) {
    {
        std::lock_guard<std::mutex> lock(gEnvelopeMutex);
        auto found = gEnvelopes.find(path);
        if (found != gEnvelopes.end()) return found->second;
    }
    std::vector<float> envelope;
    SoundFile sound(path);
    if (sound && pointsPerSecond > 0.0f) {
        const SF_INFO& info = sound.info;
        const double wanted = std::floor(static_cast<double>(info.frames) / info.samplerate * pointsPerSecond);
        if (wanted <= static_cast<double>(kMaxEnvelopePoints)) {
            const int64_t points = std::max<int64_t>(1, static_cast<int64_t>(wanted));
            std::vector<double> sums(static_cast<size_t>(points), 0.0);
            std::vector<int64_t> counts(static_cast<size_t>(points), 0);
            const int channels = info.channels;
            std::vector<float> buffer(static_cast<size_t>(kReadBlock) * static_cast<size_t>(channels));
            int64_t frame = 0;
            for (;;) {
                const int64_t got = sf_readf_float(sound.file, buffer.data(), kReadBlock);
                if (got <= 0) break;
                for (int64_t i = 0; i < got; ++i, ++frame) {
                    double mean = 0.0;
                    for (int c = 0; c < channels; ++c) {
                        const float x = buffer[static_cast<size_t>(i * channels + c)];
                        if (std::isfinite(x)) mean += std::fabs(x);
                    }
                    mean /= channels;
                    // Frames past the header's count (it may lie) land in the last point.
                    const double position = static_cast<double>(frame) * static_cast<double>(points) /
                                            static_cast<double>(info.frames);
                    const int64_t point = std::min<int64_t>(static_cast<int64_t>(position), points - 1);
                    sums[static_cast<size_t>(point)] += mean * mean;
                    ++counts[static_cast<size_t>(point)];
                }
                if (got < kReadBlock) break;
            }
            envelope.resize(static_cast<size_t>(points));
            for (int64_t p = 0; p < points; ++p)
                envelope[static_cast<size_t>(p)] =
                    counts[static_cast<size_t>(p)] > 0
                        ? static_cast<float>(std::sqrt(sums[static_cast<size_t>(p)] / counts[static_cast<size_t>(p)]))
                        : 0.0f;
        }
    }
    std::lock_guard<std::mutex> lock(gEnvelopeMutex);
    gEnvelopes.emplace(path, envelope);
    return envelope;
}

bool ReadRegion(const std::string& path, double startSeconds, int64_t frames, RegionRead* out) {
    *out = RegionRead{};
    SoundFile sound(path);
    if (!sound) return false;
    const SF_INFO& info = sound.info;
    out->channels = info.channels;
    out->sampleRate = info.samplerate;
    out->fileFrames = info.frames;
    const double startFrame = std::isfinite(startSeconds) ? startSeconds * info.samplerate : 0.0;
    const int64_t start = static_cast<int64_t>(std::clamp(startFrame, 0.0, static_cast<double>(info.frames)));
    if (start > 0 && sf_seek(sound.file, start, SEEK_SET) < 0) return true;
    int64_t remaining = std::min<int64_t>(std::max<int64_t>(frames, 0), info.frames - start);
    // Grow with what is actually read: a damaged header may promise more than the file holds.
    out->samples.reserve(static_cast<size_t>(std::min<int64_t>(remaining, int64_t{1} << 20)) *
                         static_cast<size_t>(info.channels));
    std::vector<float> buffer(static_cast<size_t>(kReadBlock) * static_cast<size_t>(info.channels));
    while (remaining > 0) {
        const int64_t want = std::min(remaining, kReadBlock);
        const int64_t got = sf_readf_float(sound.file, buffer.data(), want);
        if (got <= 0) break;
        out->samples.insert(out->samples.end(), buffer.begin(), buffer.begin() + got * info.channels);
        out->frames += got;
        remaining -= got;
        if (got < want) break;
    }
    return true;
}

}  // namespace morvane
