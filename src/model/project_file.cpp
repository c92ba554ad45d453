#include "model/project_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <unordered_map>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include <stb/stb_image_write.h>

#include "model/json.h"
#include "model/timeline_json.h"
#include "model/undo.h"
#include "platform/folders.h"
#include "platform/regular_file.h"
#include "version.h"

namespace morvane {

namespace fs = std::filesystem;

namespace {

// ---------------------------------------------------------------------------------------
// Registered library hooks

std::mutex gFileRefHooksMutex;
FileRefProvider gFileRefProvider;
FileRefSink gFileRefSink;

FileRefProvider CurrentProvider() {
    std::lock_guard<std::mutex> lock(gFileRefHooksMutex);
    return gFileRefProvider;
}

FileRefSink CurrentSink() {
    std::lock_guard<std::mutex> lock(gFileRefHooksMutex);
    return gFileRefSink;
}

// ---------------------------------------------------------------------------------------
// Paths

std::string AbsoluteNormal(const std::string& path) {
    std::error_code ec;
    fs::path absolute = fs::absolute(fs::path(path), ec);
    if (ec) absolute = fs::path(path);
    return absolute.lexically_normal().string();
}

std::string FolderOf(const std::string& path) {
    return fs::path(AbsoluteNormal(path)).parent_path().string();
}

// path relative to folder with "/" separators when path lies inside folder; else empty.
std::string RelativeInside(const std::string& path, const std::string& folder) {
    if (path.empty() || folder.empty()) return {};
    fs::path relative = fs::path(AbsoluteNormal(path)).lexically_relative(fs::path(AbsoluteNormal(folder)));
    if (relative.empty()) return {};
    std::string text = relative.generic_string();
    if (text == "." || text == ".." || text.rfind("../", 0) == 0) return {};
    return text;
}

// ---------------------------------------------------------------------------------------
// Referenced audio files

void AddUnique(std::vector<std::string>& list, std::set<std::string>& seen, const std::string& path) {
    if (path.empty() || !seen.insert(path).second) return;
    list.push_back(path);
}

void GatherEventFiles(const Event& e, std::vector<std::string>& list, std::set<std::string>& seen, int depth) {
    if (e.hasPinnedFile) AddUnique(list, seen, e.pinnedFile);
    for (const std::string& path : e.pinnedFiles) AddUnique(list, seen, path);
    // A bounced Clip's sources are written with the same path map, so their files travel too.
    if (depth < kMaxBounceDepth)
        for (const Event& source : e.bounceSource) GatherEventFiles(source, list, seen, depth + 1);
}

// Every audio file the project refers to, in document order, each once.
std::vector<std::string> GatherAudioFiles(const Project& project) {
    std::vector<std::string> list;
    std::set<std::string> seen;
    // A layer's earlier sounds travel with the project too, so "Previous sound" finds
    // them in a collected copy.
    auto addLayer = [&](const Layer& layer) {
        AddUnique(list, seen, layer.filepath);
        if (layer.procMode == ProcMode::Alloy) {
            AddUnique(list, seen, layer.alloyMid.filepath);
            AddUnique(list, seen, layer.alloyHigh.filepath);
            AddUnique(list, seen, layer.alloyEnv.filepath);
        }
    };
    for (const Layer& layer : project.timeline.results) addLayer(layer);
    for (const Layer& layer : project.timeline.results)
        for (const Layer& earlier : layer.history.entries) addLayer(earlier);
    for (const Event& event : project.timeline.events) GatherEventFiles(event, list, seen, 0);
    return list;
}

// ---------------------------------------------------------------------------------------
// Audio collection

struct FileStamp {
    uint64_t size = 0;
    int64_t mtimeSec = 0;
    int64_t mtimeNsec = 0;
    uint64_t device = 0;
    uint64_t inode = 0;
    bool operator==(const FileStamp&) const = default;
};

bool StampOf(const std::string& path, FileStamp& stamp) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    stamp.size = static_cast<uint64_t>(st.st_size);
    stamp.mtimeSec = st.st_mtim.tv_sec;
    stamp.mtimeNsec = st.st_mtim.tv_nsec;
    stamp.device = st.st_dev;
    stamp.inode = st.st_ino;
    return true;
}

bool ReadFully(int fd, char* buffer, size_t size) {
    size_t done = 0;
    while (done < size) {
        ssize_t got = ::read(fd, buffer + done, size - done);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        done += static_cast<size_t>(got);
    }
    return true;
}


// Byte comparison of two files of equal size. Sound libraries are full of different
// files with the same name and the same length, so neither name nor size proves that a
// collected file is a copy of a given source.
bool SameContent(const std::string& a, const std::string& b, uint64_t size) {
    int fa = ::open(a.c_str(), O_RDONLY | O_CLOEXEC);
    if (fa < 0) return false;
    int fb = ::open(b.c_str(), O_RDONLY | O_CLOEXEC);
    if (fb < 0) {
        ::close(fa);
        return false;
    }
    constexpr size_t kChunk = 1 << 16;
    std::vector<char> bufferA(kChunk), bufferB(kChunk);
    bool same = true;
    for (uint64_t left = size; left > 0 && same;) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(left, kChunk));
        same = ReadFully(fa, bufferA.data(), n) && ReadFully(fb, bufferB.data(), n) &&
               std::memcmp(bufferA.data(), bufferB.data(), n) == 0;
        left -= n;
    }
    ::close(fa);
    ::close(fb);
    return same;
}


// Whether the open file starts like a sound file the program plays: WAVE in its RIFF,
// RIFX, RF64, BW64 and Wave64 forms, AIFF, AIFC and 8SVX, CAF, AU, PAF, FLAC, Ogg and
// MP3 with an ID3 tag. A layer's path is only text in a document anyone can write;
// collecting it must not turn a password file or a private note into a readable copy
// inside the project folder.
bool StartsLikeSound(int fd) {
    unsigned char head[16] = {};
    ssize_t got = -1;
    do got = ::pread(fd, head, sizeof head, 0);
    while (got < 0 && errno == EINTR);
    if (got < 12) return false;
    auto is = [&](size_t at, const char* text) { return std::memcmp(head + at, text, std::strlen(text)) == 0; };
    static const unsigned char kWave64[8] = {'r', 'i', 'f', 'f', 0x2E, 0x91, 0xCF, 0x11};
    if ((is(0, "RIFF") || is(0, "RIFX") || is(0, "RF64") || is(0, "BW64")) && is(8, "WAVE")) return true;
    if (is(0, "FORM") && (is(8, "AIFF") || is(8, "AIFC") || is(8, "8SVX"))) return true;
    if (std::memcmp(head, kWave64, sizeof kWave64) == 0) return true;
    for (const char* magic : {"caff", ".snd", "dns.", " paf", "fap ", "fLaC", "OggS", "ID3"})
        if (is(0, magic)) return true;
    return false;
}

// Copies source (already open as in) to dest through a temporary file in dest's folder,
// forced to disk before the rename, so a collected file is either whole or absent. The
// copy keeps the source's modification time and never more permissions than the source
// has: a sound only its owner may read stays that way in the project folder. Returns 0
// or an errno value.
int CopyWhole(int in, const struct stat& sourceStat, const std::string& dest) {
    fs::path destPath(dest);
    // A name of its own per copy: two saves collecting the same sound never share one.
    std::string temporary = (destPath.parent_path() / ("." + destPath.filename().string() + ".part-XXXXXX")).string();
    int out = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (out < 0) return errno;
    ::fchmod(out, sourceStat.st_mode & 0666);
    std::vector<char> buffer(1 << 16);
    int error = 0;
    for (;;) {
        ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            error = errno;
            break;
        }
        if (got == 0) break;
        if (!WriteFully(out, buffer.data(), static_cast<size_t>(got))) {
            error = errno ? errno : EIO;
            break;
        }
    }
    if (error == 0 && ::fsync(out) != 0) error = errno;
    if (error == 0) {
        struct timespec times[2] = {sourceStat.st_atim, sourceStat.st_mtim};
        ::futimens(out, times);
    }
    if (::close(out) != 0 && error == 0) error = errno;
    if (error == 0 && ::rename(temporary.c_str(), dest.c_str()) != 0) error = errno;
    if (error != 0) ::unlink(temporary.c_str());
    return error;
}

// What an earlier save in this process found, so that saving again (and every autosave)
// does not compare whole files that have not changed since.
struct CollectedEntry {
    FileStamp source;
    FileStamp collected;
    std::string name;
};
std::mutex gCollectedMutex;
std::unordered_map<std::string, CollectedEntry> gCollected;  // audio folder + "\n" + source

// The name tried for the n-th candidate (1: the name itself; then "stem_2.ext", ...).
std::string CandidateName(const std::string& name, int n) {
    if (n <= 1) return name;
    fs::path p(name);
    std::string stem = p.stem().string();
    std::string extension = p.extension().string();
    if (stem.empty()) {
        stem = name;
        extension.clear();
    }
    return stem + "_" + std::to_string(n) + extension;
}

constexpr int kMaxCandidates = 10000;

struct Collector {
    std::string audioFolder;  // absolute
    bool folderReady = false;
    int folderError = 0;  // why the folder could not be made, once tried
    PathMap map;
    std::set<std::string> claimed;  // collected names given to some source in this save
    SaveProjectResult* result = nullptr;
};

void LogCollectFailure(const std::string& source, const char* message) {
    std::printf("[Project] Failed to collect %s: %s\n", source.c_str(), message);
}

void CollectOne(Collector& c, const std::string& source) {
    const std::string absolute = AbsoluteNormal(source);
    std::string inside = RelativeInside(absolute, c.audioFolder);
    if (!inside.empty()) {
        c.map[source] = std::string(kCollectedAudioFolder) + "/" + inside;
        c.claimed.insert(inside);
        return;
    }
    std::string name = fs::path(absolute).filename().string();
    if (name.empty()) return;

    // A pipe named as a layer's file would hold the save forever; only files are read.
    std::string why;
    int in = OpenRegularFileForReading(absolute, &why);
    if (in < 0) {
        LogCollectFailure(source, why.c_str());
        ++c.result->failedCopies;
        return;
    }
    struct stat sourceStat {};
    if (::fstat(in, &sourceStat) != 0 || !StartsLikeSound(in)) {
        LogCollectFailure(source, "not a sound file");
        ++c.result->failedCopies;
        ::close(in);
        return;
    }
    FileStamp sourceStamp;
    sourceStamp.size = static_cast<uint64_t>(sourceStat.st_size);
    sourceStamp.mtimeSec = sourceStat.st_mtim.tv_sec;
    sourceStamp.mtimeNsec = sourceStat.st_mtim.tv_nsec;
    sourceStamp.device = sourceStat.st_dev;
    sourceStamp.inode = sourceStat.st_ino;

    const std::string cacheKey = c.audioFolder + "\n" + absolute;
    auto mapTo = [&](const std::string& collectedName) {
        c.map[source] = std::string(kCollectedAudioFolder) + "/" + collectedName;
        c.claimed.insert(collectedName);
        FileStamp collectedStamp;
        if (StampOf(JoinPath(c.audioFolder, collectedName), collectedStamp)) {
            std::lock_guard<std::mutex> lock(gCollectedMutex);
            gCollected[cacheKey] = CollectedEntry{sourceStamp, collectedStamp, collectedName};
        }
    };

    {
        // Unchanged source, unchanged copy: the copy made or verified earlier still holds.
        std::lock_guard<std::mutex> lock(gCollectedMutex);
        auto found = gCollected.find(cacheKey);
        if (found != gCollected.end() && found->second.source == sourceStamp) {
            FileStamp now;
            if (StampOf(JoinPath(c.audioFolder, found->second.name), now) && now == found->second.collected) {
                c.map[source] = std::string(kCollectedAudioFolder) + "/" + found->second.name;
                c.claimed.insert(found->second.name);
                ::close(in);
                return;
            }
        }
    }

    if (!c.folderReady && c.folderError == 0) {
        std::error_code ec;
        fs::create_directories(c.audioFolder, ec);
        c.folderReady = IsFolder(c.audioFolder);
        if (!c.folderReady) c.folderError = ec ? ec.value() : ENOTDIR;
    }
    if (!c.folderReady) {
        LogCollectFailure(source, std::strerror(c.folderError));
        ++c.result->failedCopies;
        ::close(in);
        return;
    }

    // The first candidate name that either already holds this very sound or is free.
    // A name holding another sound is never overwritten: it belongs to another source
    // of this project (or of an earlier version of it).
    for (int n = 1; n <= kMaxCandidates; ++n) {
        std::string candidate = CandidateName(name, n);
        std::string dest = JoinPath(c.audioFolder, candidate);
        struct stat destStat {};
        if (::lstat(dest.c_str(), &destStat) == 0) {
            if (!S_ISREG(destStat.st_mode)) continue;
            bool same = (destStat.st_dev == sourceStat.st_dev && destStat.st_ino == sourceStat.st_ino) ||
                        (destStat.st_size == sourceStat.st_size &&
                         SameContent(absolute, dest, static_cast<uint64_t>(sourceStat.st_size)));
            if (same) {
                mapTo(candidate);
                ::close(in);
                return;
            }
            continue;
        }
        if (errno != ENOENT) continue;
        if (c.claimed.count(candidate)) continue;
        int error = CopyWhole(in, sourceStat, dest);
        ::close(in);
        if (error != 0) {
            LogCollectFailure(source, std::strerror(error));
            ++c.result->failedCopies;
            return;
        }
        ++c.result->copiedFiles;
        mapTo(candidate);
        return;
    }
    ::close(in);
    LogCollectFailure(source, "no free name in the Audio folder");
    ++c.result->failedCopies;
}

// ---------------------------------------------------------------------------------------
// Writing

void WriteHexOrDecimal(JsonWriter& w, std::string_view key, const char* format, uint64_t value) {
    char text[32];
    std::snprintf(text, sizeof text, format, static_cast<unsigned long long>(value));
    w.writeString(key, text);
}

void WriteFileRefs(JsonWriter& w, const std::vector<FileRef>& refs, const PathMap& paths) {
    if (refs.empty()) return;
    w.beginArray("fileRefs");
    for (const FileRef& ref : refs) {
        w.beginObject();
        w.writeString("id", ref.id);
        if (ref.hasHash) WriteHexOrDecimal(w, "hash", "%016llx", ref.hash);
        if (ref.hasSize) WriteHexOrDecimal(w, "size", "%llu", ref.size);
        w.writeString("path", MapPath(paths, ref.path));
        w.endObject();
    }
    w.endArray();
}

float Finite(float value) { return std::isfinite(value) ? value : 0.0f; }

// Where each group sits in the sound field: "groupPlacement", an array of three
// objects with `mode` (0 Direct, 1 Spread, 2 Diffuse) and `amount` (percent). A newer
// key than the rest of the file; readers that do not know it skip it, and a file
// without it opens with every group Direct at 50 %.
void WriteGroupPlacement(JsonWriter& w, const std::array<GroupPlacement, kGroupCount>& placement) {
    w.beginArray("groupPlacement");
    for (const GroupPlacement& g : placement) {
        w.beginObject();
        w.writeInt("mode", static_cast<int>(g.mode));
        w.writeFloat("amount", g.amount);
        w.endObject();
    }
    w.endArray();
}

void WriteOptical(JsonWriter& w, const TraceResults& o) {
    w.beginObject("optical");
    w.writeFloat("duration", o.duration);
    w.writeFloat("fps", o.fps);
    w.writeInt("numFrames", o.numFrames);
    w.writeFloat("maxCompositeEnergy", o.maxCompositeEnergy);
    w.writeFloat("opticalDetail", o.opticalDetail);
    w.writeBool("traceKeepAbove", o.traceKeepAbove);
    w.writeFloat("spatialAmount", o.spatialAmount);
    w.writeBool("spatialEnhanced", o.spatialEnhanced);
    w.writeInt("frameStride", kOpticalFrameStride);
    w.beginArray("frames");
    std::string row;
    for (const OpticalFrame& frame : o.frames) {
        row.clear();
        for (int i = 0; i < kOpticalFrameStride; ++i) {
            if (i > 0) row += ',';
            JsonAppendNumber(row, Finite(frame[static_cast<size_t>(i)]), 4);
        }
        w.writeStringItem(row);
    }
    w.endArray();
    w.beginArray("events");
    for (const OpticalEvent& e : o.events) {
        w.beginObject();
        w.writeFloat("time", e.time);
        w.writeInt("type", e.type);
        w.writeFloat("confidence", e.confidence);
        w.writeInt("tier", e.tier);
        w.writeFloat("suggestedDuration", e.suggestedDuration);
        w.writeInt("suggestedShape", e.suggestedShape);
        w.writeFloat("intensity", e.intensity);
        w.writeFloat("suggestedGain", e.suggestedGain);
        w.writeFloat("suggestedSyncOffset", e.suggestedSyncOffset);
        w.writeFloat("suggestedWeightCenter", e.suggestedWeightCenter);
        w.writeFloat("suggestedSpread", e.suggestedSpread);
        if (e.hasIntensityCurve) w.writeCurve("intensityCurve", e.intensityCurve);
        w.writeString("keywords", e.keywords);
        w.writeString("presetName", e.presetName);
        w.writeBool("accepted", e.accepted);
        w.writeInt("peelLayer", e.peelLayer);
        w.endObject();
    }
    w.endArray();
    w.endObject();
}

std::string FormatDocument(const Project& p, const PathMap& paths, const std::string& projectFolder) {
    const TimelineState& t = p.timeline;
    const TimelineSettings& s = t.settings;
    JsonWriter w;
    w.out.reserve(4096 + t.events.size() * 4096 + t.results.size() * 1024);
    w.beginObject();
    w.writeString("format", kProjectFormatName);
    w.writeInt("version", kProjectFormatVersion);
    w.writeInt("minReaderVersion", kProjectMinReaderVersion);
    w.writeString("savedBy", MORVANE_VERSION);
    std::string video = RelativeInside(p.videoPath, projectFolder);
    w.writeString("videoPath", video.empty() ? p.videoPath : video);
    w.writeFloat("videoStartTime", p.videoStartTime);
    w.writeFloat("totalDuration", s.totalDuration);
    w.writeFloat("fps", s.fps);
    w.writeInt("projectSampleRate", p.projectSampleRate);
    w.writeFloat("startTC", s.startTC);
    w.writeFloat("masterGain", p.masterGain);
    w.writeFloat("refGain", p.refGain);
    w.writeFloat("groupGain0", p.groupGain[0]);
    w.writeFloat("groupGain1", p.groupGain[1]);
    w.writeFloat("groupGain2", p.groupGain[2]);
    if (!p.projectDescription.empty()) w.writeString("projectDescription", p.projectDescription);
    w.writeFloat("maxEventDuration", s.maxEventDuration);
    w.writeInt("scaleType", s.scaleType);
    w.writeInt("scaleRoot", s.scaleRoot);
    w.writeInt("pitchShiftProb", s.pitchShiftProb);
    w.writeInt("freqShiftIntensity", s.freqShiftIntensity);
    w.writeInt("reverseProb", s.reverseProb);
    w.writeBool("normalizeLUFS", s.normalizeLUFS);
    w.writeInt("alloyAlgorithm", s.alloyAlgorithm);
    w.writeFloat("alloyTransferDepth", s.alloyTransferDepth);
    w.writeFloat("alloyAttackGraft", s.alloyAttackGraft);
    w.writeFloat("alloyMicroPitch", s.alloyMicroPitch);
    w.writeInt("alloyFilterBands", s.alloyFilterBands);
    w.writeStringArray("libraryPaths", p.libraryPaths);

    w.beginObject("trackLayout");
    w.writeBool("budgetMode", t.trackLayout.budgetMode);
    for (int g = 0; g < kGroupCount; ++g) {
        w.beginObject("group" + std::to_string(g));
        WriteGroupMembers(w, t.trackLayout.groups[static_cast<size_t>(g)]);
        w.endObject();
    }
    w.endObject();

    w.beginArray("bannedFiles");
    for (const std::string& path : t.bannedFiles) w.writeStringItem(MapPath(paths, path));
    w.endArray();
    if (!t.bannedFileIds.empty()) w.writeStringArray("bannedFileIds", t.bannedFileIds);
    WriteFileRefs(w, CollectFileRefs(p), paths);
    if (!t.linkedGroups.empty()) w.writeStringArray("linkedGroups", t.linkedGroups);

    w.beginArray("userShapes");
    for (const UserShape& shape : t.userShapes) WriteUserShapeJson(w, shape);
    w.endArray();
    w.beginArray("events");
    for (const Event& event : t.events) WriteEventJson(w, event, paths);
    w.endArray();
    w.beginArray("results");
    for (const Layer& layer : t.results) WriteLayerJson(w, layer, paths);
    w.endArray();

    const ExportSettings& x = p.exportSettings;
    w.writeBool("exportWithHandles", x.exportWithHandles);
    w.writeFloat("handleDuration", x.handleDuration);
    w.writeBool("handleFullSource", x.handleFullSource);
    w.writeFloat("fadeInDuration", x.fadeInDuration);
    w.writeFloat("fadeOutDuration", x.fadeOutDuration);
    w.writeBool("snapToFrames", x.snapToFrames);
    w.writeBool("exportAAFMarkers", x.exportAAFMarkers);
    w.writeBool("exportAAFVolAuto", x.exportAAFVolAuto);
    w.writeBool("exportFillVirtual", x.exportFillVirtual);
    w.writeBool("exportFormatAAF", x.exportFormatAAF);
    w.writeBool("exportFormatWAV", x.exportFormatWAV);
    w.writeBool("exportWavMixdown", x.exportWavMixdown);
    w.writeBool("exportWavStems", x.exportWavStems);
    w.writeBool("exportWavTracks", x.exportWavTracks);
    w.writeBool("exportWavClips", x.exportWavClips);
    w.writeBool("exportReverbStem", x.exportReverbStem);
    w.writeBool("exportAAFSourceChannels", x.exportAAFSourceChannels);
    w.writeFloat("workAreaIn", p.workAreaIn);
    w.writeFloat("workAreaOut", p.workAreaOut);

    w.beginArray("scenes");
    for (const Scene& scene : t.scenes) WriteSceneJson(w, scene);
    w.endArray();

    const ReverbSettings& r = p.reverb;
    w.beginObject("reverb");
    w.writeBool("enabled", r.enabled);
    w.writeFloat("size", r.size);
    w.writeFloat("decay", r.decay);
    w.writeFloat("damping", r.damping);
    w.writeFloat("preDelay", r.preDelay);
    w.writeFloat("diffusion", r.diffusion);
    w.writeFloat("modulation", r.modulation);
    w.writeFloatArray("groupSends", r.groupSends);
    w.writeFloat("macro", r.macro);
    w.endObject();
    WriteGroupPlacement(w, p.groupPlacement);

    if (p.optical.present) WriteOptical(w, p.optical);
    w.endObject();
    w.out += '\n';
    return std::move(w.out);
}

// MORVANE_SAVE_GATE names a pipe at which every project save of this process waits,
// with its temporary file open and still empty, until the pipe's writer closes it. Tests
// use it to hold one save while another runs whole, so that two saves of one project
// meet in a known order.
void WaitAtSaveGate() {
    const char* gate = std::getenv("MORVANE_SAVE_GATE");
    if (!gate || !*gate) return;
    const int fd = ::open(gate, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    char byte;
    for (;;) {
        const ssize_t got = ::read(fd, &byte, 1);
        if (got > 0 || (got < 0 && errno == EINTR)) continue;
        break;
    }
    ::close(fd);
}

// Writes bytes to a temporary file of its own beside path (path + ".tmp-" and a unique
// ending), forces them to disk and renames the file over path, so the project file is at
// every moment either the previous or a new complete document, even while another
// process saves the same project. Temporaries left by saves that were killed are swept
// first.
bool WriteProjectFileAtomically(const std::string& path, const std::string& bytes) {
    RemoveAbandonedTemporaries(path);
    const AtomicWriteResult result = ReplaceFileAtomically(path, bytes, "", 0644, WaitAtSaveGate);
    if (result.ok) return true;
    if (result.renameFailed)
        std::printf("[Project] Rename failed: %s\n", std::strerror(result.error));
    else
        std::printf("[Project] Could not write %s: %s\n", result.temporary.c_str(), std::strerror(result.error));
    return false;
}

// ---------------------------------------------------------------------------------------
// Reading

constexpr auto Float = JsonFloatAt;
constexpr auto Int = JsonIntAt;
constexpr auto Bool = JsonBoolAt;

bool ParseUnsigned(std::string_view text, int base, uint64_t& value) {
    if (text.empty()) return false;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value, base);
    return ec == std::errc() && ptr == end;
}

FileRef ReadFileRef(const JsonValue& o, const std::string& projectFolder) {
    FileRef ref;
    ref.id = JsonAsText(JsonMember(o, "id"));
    const JsonValue& hash = JsonMember(o, "hash");
    if (hash.IsString()) ref.hasHash = ParseUnsigned(hash.text, 16, ref.hash);
    const JsonValue& size = JsonMember(o, "size");
    if (size.IsString()) {
        ref.hasSize = true;
        if (!ParseUnsigned(size.text, 10, ref.size)) ref.size = 0;  // unparsable counts as 0
    }
    ref.path = ResolveProjectPath(JsonAsText(JsonMember(o, "path")), projectFolder);
    return ref;
}

// One stored frame row: numbers joined by commas. Missing or unreadable values are 0.
OpticalFrame ParseFrameRow(std::string_view text) {
    OpticalFrame frame{};
    size_t column = 0;
    size_t pos = 0;
    while (column < frame.size() && pos <= text.size()) {
        size_t comma = text.find(',', pos);
        std::string_view cell = text.substr(pos, comma == std::string_view::npos ? text.size() - pos : comma - pos);
        while (!cell.empty() && (cell.front() == ' ' || cell.front() == '\t')) cell.remove_prefix(1);
        float value = 0.0f;
        auto [ptr, ec] = std::from_chars(cell.data(), cell.data() + cell.size(), value);
        (void)ptr;
        frame[column++] = (ec == std::errc() && std::isfinite(value)) ? value : 0.0f;
        if (comma == std::string_view::npos) break;
        pos = comma + 1;
    }
    return frame;
}

void ReadGroupPlacement(const JsonValue& list, std::array<GroupPlacement, kGroupCount>& placement) {
    for (int g = 0; g < kGroupCount; ++g) {
        const JsonValue& item = JsonItem(list, g);
        if (!item.IsObject()) continue;
        GroupPlacement& to = placement[static_cast<size_t>(g)];
        to.mode = static_cast<PlacementMode>(std::clamp(Int(item, "mode", static_cast<int>(to.mode)), 0, kPlacementModeCount - 1));
        const float amount = Float(item, "amount", to.amount);
        to.amount = std::isfinite(amount) ? std::clamp(amount, 0.0f, 100.0f) : to.amount;
    }
}

void ReadOptical(const JsonValue& o, TraceResults& r) {
    r = TraceResults{};
    r.present = true;
    r.duration = Float(o, "duration", r.duration);
    r.fps = Float(o, "fps", r.fps);
    r.maxCompositeEnergy = Float(o, "maxCompositeEnergy", r.maxCompositeEnergy);
    r.opticalDetail = Float(o, "opticalDetail", r.opticalDetail);
    r.traceKeepAbove = Bool(o, "traceKeepAbove", r.traceKeepAbove);
    r.spatialAmount = Float(o, "spatialAmount", r.spatialAmount);
    if (r.spatialAmount >= 0.0f) r.spatialAmount = std::min(r.spatialAmount, 1.0f);
    else r.spatialAmount = -1.0f;
    r.spatialEnhanced = Bool(o, "spatialEnhanced", r.spatialEnhanced);
    // Rows of another width would put every value in the wrong column: keep none then.
    if (Int(o, "frameStride", kOpticalFrameStride) == kOpticalFrameStride) {
        const JsonValue& frames = JsonMember(o, "frames");
        r.frames.reserve(frames.items.size());
        for (const JsonValue& row : frames.items) r.frames.push_back(ParseFrameRow(JsonAsText(row)));
    }
    // The stored count never claims more rows than the document holds, so nothing that
    // trusts it can read past the rows.
    r.numFrames = std::clamp(Int(o, "numFrames", static_cast<int>(r.frames.size())), 0,
                             static_cast<int>(r.frames.size()));
    const JsonValue& events = JsonMember(o, "events");
    for (const JsonValue& item : events.items) {
        if (!item.IsObject()) continue;
        OpticalEvent e;
        e.time = Float(item, "time", e.time);
        e.type = std::clamp(Int(item, "type", e.type), 0, 2);
        e.confidence = Float(item, "confidence", e.confidence);
        e.tier = std::max(Int(item, "tier", e.tier), 0);
        e.suggestedDuration = Float(item, "suggestedDuration", e.suggestedDuration);
        e.suggestedShape = static_cast<int32_t>(EventShapeFromInt(Int(item, "suggestedShape", e.suggestedShape)));
        e.intensity = Float(item, "intensity", e.intensity);
        e.suggestedGain = Float(item, "suggestedGain", e.suggestedGain);
        e.suggestedSyncOffset = Float(item, "suggestedSyncOffset", e.suggestedSyncOffset);
        e.suggestedWeightCenter = Float(item, "suggestedWeightCenter", e.suggestedWeightCenter);
        e.suggestedSpread = Float(item, "suggestedSpread", e.suggestedSpread);
        const JsonValue& curve = JsonMember(item, "intensityCurve");
        if (curve.IsArray()) {
            e.hasIntensityCurve = true;
            ReadCurveJson(curve, e.intensityCurve, 0.5f);
        }
        e.keywords = CutText(JsonAsText(JsonMember(item, "keywords")), kOpticalKeywordsMaxBytes);
        e.presetName = CutText(JsonAsText(JsonMember(item, "presetName")), kOpticalPresetNameMaxBytes);
        e.accepted = Bool(item, "accepted", e.accepted);
        e.peelLayer = std::max(Int(item, "peelLayer", e.peelLayer), 0);
        r.events.push_back(std::move(e));
    }
}

void ReadStringList(const JsonValue& array, std::vector<std::string>& out) {
    out.clear();
    for (const JsonValue& item : array.items) out.push_back(JsonAsText(item));
}

float Gain(const JsonValue& o, std::string_view key, float fallback) {
    return std::clamp(Float(o, key, fallback), 0.0f, 100.0f);
}

void ReadDocument(const JsonValue& root, const std::string& folder, bool legacy, Project& p,
                  std::vector<FileRef>& fileRefs) {
    TimelineState& t = p.timeline;
    p.videoPath = ResolveProjectPath(JsonAsText(JsonMember(root, "videoPath")), folder);
    p.videoStartTime = Float(root, "videoStartTime", p.videoStartTime);
    const TimelineSettings before = t.settings;
    ReadTimelineSettingsJson(root, t.settings);
    // Every frame and time computation divides by the frame rate: a rate that is not
    // positive keeps the previous one, as does a negative duration.
    if (!(t.settings.fps > 0.0f)) t.settings.fps = before.fps;
    if (t.settings.totalDuration < 0.0f) t.settings.totalDuration = before.totalDuration;
    int rate = Int(root, "projectSampleRate", p.projectSampleRate);
    if (IsProjectSampleRate(rate)) p.projectSampleRate = rate;
    p.masterGain = Gain(root, "masterGain", p.masterGain);
    p.refGain = Gain(root, "refGain", p.refGain);
    p.groupGain[0] = Gain(root, "groupGain0", p.groupGain[0]);
    p.groupGain[1] = Gain(root, "groupGain1", p.groupGain[1]);
    p.groupGain[2] = Gain(root, "groupGain2", p.groupGain[2]);
    if (JsonMember(root, "projectDescription").IsString())
        p.projectDescription = JsonAsText(JsonMember(root, "projectDescription"));

    const JsonValue& libraries = JsonMember(root, "libraryPaths");
    if (libraries.IsArray()) {
        p.libraryPaths.clear();
        for (const JsonValue& item : libraries.items)
            if (!JsonAsText(item).empty()) p.libraryPaths.push_back(JsonAsText(item));
    }

    const JsonValue& layout = JsonMember(root, "trackLayout");
    t.trackLayout.budgetMode = Bool(layout, "budgetMode", t.trackLayout.budgetMode);
    for (int g = 0; g < kGroupCount; ++g) {
        const JsonValue& group = JsonMember(layout, "group" + std::to_string(g));
        if (group.IsObject()) t.trackLayout.groups[static_cast<size_t>(g)] = ReadGroupJson(group);
    }

    t.bannedFiles.clear();
    for (const JsonValue& item : JsonMember(root, "bannedFiles").items)
        t.bannedFiles.push_back(ResolveProjectPath(JsonAsText(item), folder));
    ReadStringList(JsonMember(root, "bannedFileIds"), t.bannedFileIds);

    fileRefs.clear();
    for (const JsonValue& item : JsonMember(root, "fileRefs").items)
        if (item.IsObject()) fileRefs.push_back(ReadFileRef(item, folder));

    t.linkedGroups.clear();
    for (const JsonValue& item : JsonMember(root, "linkedGroups").items) {
        std::string name = CutText(JsonAsText(item), kNameMaxBytes);
        if (!name.empty()) t.linkedGroups.push_back(std::move(name));
    }

    t.userShapes.clear();
    for (const JsonValue& item : JsonMember(root, "userShapes").items)
        if (item.IsObject()) t.userShapes.push_back(ReadUserShapeJson(item));

    // Scenes before events, so an event's scene link can be checked against them.
    t.scenes.clear();
    for (const JsonValue& item : JsonMember(root, "scenes").items)
        if (item.IsObject()) t.scenes.push_back(ReadSceneJson(item));

    const int shapeCount = static_cast<int>(t.userShapes.size());
    const int sceneCount = static_cast<int>(t.scenes.size());
    t.events.clear();
    const JsonValue& events = JsonMember(root, "events");
    t.events.reserve(events.items.size());
    for (const JsonValue& item : events.items) {
        if (!item.IsObject()) continue;
        Event event = ReadEventJson(item, folder, legacy, shapeCount);
        // A link to a scene the project does not have would index past the scene list.
        if (event.sceneLink >= sceneCount) event.sceneLink = -1;
        t.events.push_back(std::move(event));
    }

    t.results.clear();
    const JsonValue& results = JsonMember(root, "results");
    t.results.reserve(results.items.size());
    for (const JsonValue& item : results.items)
        if (item.IsObject()) t.results.push_back(ReadLayerJson(item, folder));
    // Layers exist only after a build; the file keeps them, not a flag of their own.
    t.built = !t.results.empty();

    ExportSettings& x = p.exportSettings;
    x.exportWithHandles = Bool(root, "exportWithHandles", x.exportWithHandles);
    x.handleDuration = std::clamp(Float(root, "handleDuration", x.handleDuration), 0.01f, 60.0f);
    x.handleFullSource = Bool(root, "handleFullSource", x.handleFullSource);
    x.fadeInDuration = std::clamp(Float(root, "fadeInDuration", x.fadeInDuration), 0.0f, 30.0f);
    x.fadeOutDuration = std::clamp(Float(root, "fadeOutDuration", x.fadeOutDuration), 0.0f, 30.0f);
    x.snapToFrames = Bool(root, "snapToFrames", x.snapToFrames);
    x.exportAAFMarkers = Bool(root, "exportAAFMarkers", x.exportAAFMarkers);
    x.exportAAFVolAuto = Bool(root, "exportAAFVolAuto", x.exportAAFVolAuto);
    x.exportFillVirtual = Bool(root, "exportFillVirtual", x.exportFillVirtual);
    x.exportFormatAAF = Bool(root, "exportFormatAAF", x.exportFormatAAF);
    x.exportFormatWAV = Bool(root, "exportFormatWAV", x.exportFormatWAV);
    x.exportWavMixdown = Bool(root, "exportWavMixdown", x.exportWavMixdown);
    x.exportWavStems = Bool(root, "exportWavStems", x.exportWavStems);
    x.exportWavTracks = Bool(root, "exportWavTracks", x.exportWavTracks);
    x.exportWavClips = Bool(root, "exportWavClips", x.exportWavClips);
    x.exportReverbStem = Bool(root, "exportReverbStem", x.exportReverbStem);
    x.exportAAFSourceChannels = Bool(root, "exportAAFSourceChannels", x.exportAAFSourceChannels);
    p.workAreaIn = Float(root, "workAreaIn", p.workAreaIn);
    p.workAreaOut = Float(root, "workAreaOut", p.workAreaOut);

    const JsonValue& reverb = JsonMember(root, "reverb");
    if (reverb.IsObject()) {
        ReverbSettings& r = p.reverb;
        r.enabled = Bool(reverb, "enabled", r.enabled);
        r.size = std::clamp(Float(reverb, "size", r.size), 0.0f, 1.0f);
        r.decay = std::clamp(Float(reverb, "decay", r.decay), 0.0f, 1.0f);
        r.damping = std::clamp(Float(reverb, "damping", r.damping), 0.0f, 1.0f);
        r.preDelay = std::clamp(Float(reverb, "preDelay", r.preDelay), 0.0f, 0.2f);
        r.diffusion = std::clamp(Float(reverb, "diffusion", r.diffusion), 0.0f, 1.0f);
        r.modulation = std::clamp(Float(reverb, "modulation", r.modulation), 0.0f, 1.0f);
        const JsonValue& sends = JsonMember(reverb, "groupSends");
        for (int g = 0; g < kGroupCount; ++g)
            r.groupSends[static_cast<size_t>(g)] =
                std::clamp(JsonAsFloat(JsonItem(sends, g), r.groupSends[static_cast<size_t>(g)]), 0.0f, 1.0f);
        r.macro = std::clamp(Float(reverb, "macro", r.macro), 0.0f, 1.0f);
    }
    ReadGroupPlacement(JsonMember(root, "groupPlacement"), p.groupPlacement);

    const JsonValue& optical = JsonMember(root, "optical");
    if (optical.IsObject()) ReadOptical(optical, p.optical);
    else p.optical = TraceResults{};
}

int CountMissing(const std::vector<std::string>& files) {
    int missing = 0;
    for (const std::string& path : files) {
        std::error_code ec;
        if (!fs::exists(path, ec)) ++missing;
    }
    return missing;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Public

void SetFileRefProvider(FileRefProvider provider) {
    std::lock_guard<std::mutex> lock(gFileRefHooksMutex);
    gFileRefProvider = std::move(provider);
}

void SetFileRefSink(FileRefSink sink) {
    std::lock_guard<std::mutex> lock(gFileRefHooksMutex);
    gFileRefSink = std::move(sink);
}

std::vector<FileRef> CollectFileRefs(const Project& project) {
    // id -> the project's own path for it (first one met), in ascending id order.
    std::map<std::string, std::string> ids;
    auto add = [&](const std::string& id, const std::string& path) {
        if (id.empty()) return;
        auto [it, inserted] = ids.emplace(id, path);
        if (!inserted && it->second.empty()) it->second = path;
    };
    const TimelineState& t = project.timeline;
    auto addLayer = [&](const Layer& layer) {
        add(layer.fileId, layer.filepath);
        if (layer.procMode == ProcMode::Alloy) {
            add(layer.alloyMid.fileId, layer.alloyMid.filepath);
            add(layer.alloyHigh.fileId, layer.alloyHigh.filepath);
            add(layer.alloyEnv.fileId, layer.alloyEnv.filepath);
        }
    };
    for (const Layer& layer : t.results) addLayer(layer);
    for (const Layer& layer : t.results)
        for (const Layer& earlier : layer.history.entries) addLayer(earlier);
    // Only the ids the event writer writes: a pinned id without its pinned file, or an id
    // beyond the pinned files, is not saved and must not leave a table entry behind.
    for (const Event& e : t.events) {
        if (e.hasPinnedFile && !e.pinnedFile.empty()) add(e.pinnedFileId, e.pinnedFile);
        const size_t pinned = std::min(e.pinnedFileIds.size(), e.pinnedFiles.size());
        for (size_t i = 0; i < pinned; ++i) add(e.pinnedFileIds[i], e.pinnedFiles[i]);
    }
    // Banned ids run parallel to the banned paths when both lists are kept together.
    for (size_t i = 0; i < t.bannedFileIds.size(); ++i)
        add(t.bannedFileIds[i], t.bannedFileIds.size() == t.bannedFiles.size() ? t.bannedFiles[i] : std::string());

    FileRefProvider provider = CurrentProvider();
    std::vector<FileRef> refs;
    refs.reserve(ids.size());
    for (const auto& [id, path] : ids) {
        FileRef ref;
        ref.id = id;
        if (provider) {
            FileRef known;
            known.id = id;
            if (provider(id, known)) {
                ref.hasHash = known.hasHash;
                ref.hash = known.hash;
                ref.hasSize = known.hasSize;
                ref.size = known.size;
                ref.path = known.path;
            }
        }
        if (!path.empty()) ref.path = path;
        refs.push_back(std::move(ref));
    }
    return refs;
}

std::string ProjectThumbnailPath(const std::string& projectPath) {
    const std::string ending = kProjectExtension;
    if (projectPath.size() >= ending.size() &&
        projectPath.compare(projectPath.size() - ending.size(), ending.size(), ending) == 0)
        return projectPath.substr(0, projectPath.size() - ending.size()) + ".thumb.png";
    return projectPath + ".thumb.png";
}


std::string WithProjectExtension(const std::string& path) {
    const std::string ending = kProjectExtension;
    if (path.size() >= ending.size() && path.compare(path.size() - ending.size(), ending.size(), ending) == 0)
        return path;
    return path + ending;
}

std::string FormatProjectDocument(const Project& project, const std::string& projectFolder) {
    PathMap map;
    if (!projectFolder.empty()) {
        const std::string audio = JoinPath(AbsoluteNormal(projectFolder), kCollectedAudioFolder);
        for (const std::string& path : GatherAudioFiles(project)) {
            std::string inside = RelativeInside(path, audio);
            if (!inside.empty()) map[path] = std::string(kCollectedAudioFolder) + "/" + inside;
        }
    }
    return FormatDocument(project, map, projectFolder.empty() ? std::string() : AbsoluteNormal(projectFolder));
}

namespace {

// Saves to path with the audio collected beside collectPath (the project file whose
// "Audio" folder holds the sounds); the two differ only for backups.
SaveProjectResult SaveDocument(const std::string& path, const std::string& collectPath, const Project& project) {
    SaveProjectResult result;
    if (path.empty() || collectPath.empty()) return result;
    const std::string folder = FolderOf(path);
    const std::string collectFolder = FolderOf(collectPath);

    Collector collector;
    collector.audioFolder = JoinPath(collectFolder, kCollectedAudioFolder);
    collector.result = &result;
    for (const std::string& file : GatherAudioFiles(project)) CollectOne(collector, file);
    const std::string prefix = std::string(kCollectedAudioFolder) + "/";
    for (auto& [source, written] : collector.map) {
        if (written.rfind(prefix, 0) != 0) continue;
        ++result.collectedFiles;
        if (folder != collectFolder) {
            fs::path full = fs::path(collectFolder) / written;
            written = full.lexically_relative(folder).generic_string();
        }
    }

    const std::string document = FormatDocument(project, collector.map, folder);
    if (!WriteProjectFileAtomically(path, document)) return result;
    std::printf("[Project] Saved %s \xE2\x80\x94 %d audio files collected\n", path.c_str(), result.collectedFiles);
    std::fflush(stdout);
    result.ok = true;
    return result;
}

}  // namespace

SaveProjectResult SaveProjectEx(const std::string& path, const Project& project) {
    return SaveDocument(path, path, project);
}

SaveProjectResult SaveProjectBackup(const std::string& backupPath, const std::string& projectPath,
                                    const Project& project) {
    return SaveDocument(backupPath, projectPath, project);
}

bool SaveProject(const std::string& path, const Project& project) { return SaveProjectEx(path, project).ok; }

LoadProjectResult LoadProjectFromText(std::string_view text, const std::string& projectFolder, Project& project,
                                      const Project* defaults) {
    LoadProjectResult result;
    if (text.empty()) {
        result.error = "Empty file";
        return result;
    }
    JsonEnd end = JsonEnd::Complete;
    JsonValue root = JsonParse(text, &end);
    if (!root.IsObject()) {
        result.error = "Invalid JSON";
        return result;
    }
    // A file cut short (a copy that stopped, a full disk) reads as a smaller project;
    // taking it for one would let the next save make the loss permanent.
    if (end == JsonEnd::Truncated) {
        result.error = "Truncated file";
        return result;
    }
    if (JsonAsText(JsonMember(root, "format")) != kProjectFormatName) {
        result.error = "Not a Morvane project file";
        return result;
    }
    result.version = Int(root, "version", 1);
    const int minReader = Int(root, "minReaderVersion", 1);
    const JsonValue& savedBy = JsonMember(root, "savedBy");
    result.savedBy = JsonAsText(savedBy);
    if (minReader > kProjectFormatVersion) {
        result.warning = "Newer version project";
        if (savedBy.IsString()) result.warning += " (saved by v" + result.savedBy + ")";
        result.warning += " \xE2\x80\x94 some data may be lost if you save";
    }
    const bool legacy = result.version < 2;

    Project loaded = defaults ? *defaults : Project{};
    loaded.history = UndoHistory{};
    loaded.modified = false;
    ReadDocument(root, projectFolder, legacy, loaded, result.fileRefs);
    root = JsonValue{};  // the tree can be large; free it before the project is copied

    result.videoPath = loaded.videoPath;
    std::vector<std::string> files = GatherAudioFiles(loaded);
    result.referencedFiles = static_cast<int>(files.size());
    result.missingFiles = CountMissing(files);

    loaded.history = std::move(project.history);
    {
        std::lock_guard<std::mutex> lock(timelineMutex);
        project = std::move(loaded);
        NotifyTimelineReplaced();
    }
    if (FileRefSink sink = CurrentSink())
        for (const FileRef& ref : result.fileRefs) sink(ref);
    result.ok = true;
    return result;
}

namespace {

// "Could not open file: <path>", with the reason when it is more than a missing file
// (a pipe, a device, a folder, a link loop, no permission).
std::string CouldNotOpen(const std::string& path, const std::string& why) {
    std::string text = "Could not open file: " + path;
    if (!why.empty() && why != std::strerror(ENOENT)) text += " (" + why + ")";
    return text;
}

}  // namespace

std::string ProjectFileProblem(const std::string& path) {
    const std::string why = RegularFileProblem(path);
    return why.empty() ? std::string() : CouldNotOpen(path, why);
}

LoadProjectResult LoadProject(const std::string& path, Project& project, const Project* defaults) {
    LoadProjectResult result;
    // Only a regular file is read: a pipe or a device named as a project would block the
    // program for good, or feed it without end.
    std::string text, why;
    if (!ReadRegularFile(path, text, &why)) {
        result.error = CouldNotOpen(path, why);
        return result;
    }
    return LoadProjectFromText(text, FolderOf(path), project, defaults);
}

bool WriteProjectThumbnail(const std::string& projectPath, const uint8_t* rgba, int width, int height) {
    if (!rgba || width <= 0 || height <= 0 || projectPath.empty()) return false;
    // Box-average down to the thumbnail width; a window is several times wider.
    int outWidth = std::min(width, kThumbnailMaxWidth);
    int outHeight = std::max(1, static_cast<int>(static_cast<int64_t>(height) * outWidth / width));
    std::vector<uint8_t> pixels(static_cast<size_t>(outWidth) * static_cast<size_t>(outHeight) * 4);
    for (int y = 0; y < outHeight; ++y) {
        int y0 = static_cast<int>(static_cast<int64_t>(y) * height / outHeight);
        int y1 = std::max(y0 + 1, static_cast<int>(static_cast<int64_t>(y + 1) * height / outHeight));
        for (int x = 0; x < outWidth; ++x) {
            int x0 = static_cast<int>(static_cast<int64_t>(x) * width / outWidth);
            int x1 = std::max(x0 + 1, static_cast<int>(static_cast<int64_t>(x + 1) * width / outWidth));
            uint64_t sum[4] = {0, 0, 0, 0};
            for (int sy = y0; sy < y1; ++sy)
                for (int sx = x0; sx < x1; ++sx) {
                    const uint8_t* px = rgba + (static_cast<size_t>(sy) * static_cast<size_t>(width) +
                                                static_cast<size_t>(sx)) * 4;
                    for (int c = 0; c < 4; ++c) sum[c] += px[c];
                }
            uint64_t count = static_cast<uint64_t>(y1 - y0) * static_cast<uint64_t>(x1 - x0);
            uint8_t* out = pixels.data() + (static_cast<size_t>(y) * static_cast<size_t>(outWidth) +
                                            static_cast<size_t>(x)) * 4;
            for (int c = 0; c < 4; ++c) out[c] = static_cast<uint8_t>(sum[c] / count);
            out[3] = 255;  // the window is opaque; a captured alpha would punch holes
        }
    }
    std::string png;
    auto append = [](void* context, void* data, int size) {
        static_cast<std::string*>(context)->append(static_cast<const char*>(data), static_cast<size_t>(size));
    };
    if (!stbi_write_png_to_func(append, &png, outWidth, outHeight, 4, pixels.data(), outWidth * 4)) return false;
    return WriteFileAtomically(ProjectThumbnailPath(projectPath), png);
}

}  // namespace morvane
