// morvane-cli library and relink: what the Library tab shows, without a window.
#include <cstdio>
#include <filesystem>
#include <string>

#include "cli/commands.h"
#include "library/channel_map.h"
#include "library/libraries.h"
#include "library/relink.h"
#include "model/json.h"

namespace morvane::cli {

namespace {

void PrintEntryJson(JsonWriter& json, const LibraryEntry& e) {
    json.beginObject();
    json.writeString("path", e.path);
    json.writeString("name", e.name);
    json.writeString("description", e.description);
    json.writeString("keywords", e.keywords);
    json.writeString("fileId", e.fileId);
    json.writeFloat("duration", e.duration);
    json.writeFloat("sampleRate", e.sampleRate);
    json.writeInt("channels", e.channels);
    json.writeInt("bitDepth", e.bitDepth);
    json.writeInt("channelLayout", e.channelLayout);
    json.writeInt("midiNote", e.midiNote);
    json.writeFloatArray("features", e.features);
    json.endObject();
}

}  // namespace

int RunLibrary(int argc, char** argv) {
    CommandLine line;
    if (const int code = ReadCommandLine("library", argc, argv, &line)) return code;
    const std::string action = line.positionals[0];
    const bool json = HasOption(line, "--json");
    LibrarySet set;
    if (LibraryIndexFolder(set).empty()) {
        std::fprintf(stderr, "morvane-cli library: no documents folder (HOME is not set)\n");
        return 1;
    }
    LoadAllLibraries(set);
    if (action == "list" && line.positionals.size() == 1 && !json) {
        if (set.libraries.empty()) std::printf("No libraries in %s\n", LibraryIndexFolder(set).c_str());
        for (const Library& library : set.libraries)
            std::printf("%s\t%s\t%s\n", library.name.c_str(),
                        library.savedPalette ? "(palette)" : library.folder.c_str(), library.summary.c_str());
        return 0;
    }
    if (action != "show" || line.positionals.size() != 2) {
        std::fprintf(stderr, "morvane-cli library: unexpected arguments (see morvane-cli library --help)\n");
        return 2;
    }
    const std::string name = line.positionals[1];
    for (const Library& library : set.libraries) {
        if (library.name != name) continue;
        if (json) {
            JsonWriter writer;
            writer.validUtf8Only = true;
            writer.beginObject();
            writer.writeString("name", library.name);
            writer.writeString("folder", library.folder);
            writer.writeBool("savedPalette", library.savedPalette);
            writer.writeInt("channelInterpretation", library.channelInterpretation);
            writer.writeString("summary", library.summary);
            writer.beginArray("entries");
            for (const LibraryEntry& entry : library.entries) PrintEntryJson(writer, entry);
            writer.endArray();
            writer.endObject();
            std::printf("%s\n", writer.out.c_str());
            return 0;
        }
        std::printf("%s\n%s\n%s\n", library.name.c_str(), library.folder.c_str(), library.summary.c_str());
        if (!library.nameSummary.empty()) std::printf("%s\n", library.nameSummary.c_str());
        for (const LibraryEntry& e : library.entries)
            std::printf("%s\t%.2f s\t%.0f Hz\t%s\t%d-bit\t%s\n", e.path.c_str(), e.duration, e.sampleRate,
                        LayoutName(e.channelLayout, e.channels).c_str(), e.bitDepth, e.keywords.c_str());
        return 0;
    }
    std::fprintf(stderr, "morvane-cli library: no library named '%s'\n", name.c_str());
    return 1;
}

int RunRelink(int argc, char** argv) {
    CommandLine line;
    if (const int code = ReadCommandLine("relink", argc, argv, &line)) return code;
    const std::string folder = OptionText(line, "--folder");
    // Searching a folder that is not there would find nothing and look like an answer.
    std::error_code code;
    if (!folder.empty() && !std::filesystem::is_directory(folder, code)) {
        std::fprintf(stderr, "morvane-cli relink: %s is not a folder%s%s\n", folder.c_str(), code ? ": " : "",
                     code ? code.message().c_str() : "");
        return 1;
    }
    LibrarySet set;
    if (LibraryIndexFolder(set).empty()) {
        std::fprintf(stderr, "morvane-cli relink: no documents folder (HOME is not set)\n");
        return 1;
    }
    LoadAllLibraries(set);
    int relinked = RelinkAll(set);
    if (!folder.empty()) relinked += LocateFolder(set, folder);
    std::printf("%s\n", RelinkResultText(relinked).c_str());
    for (const MissingSource& missing : MissingSources(set))
        std::printf("missing: %s (Last-known location)\n", missing.lastKnownPath.c_str());
    return 0;
}

}  // namespace morvane::cli
