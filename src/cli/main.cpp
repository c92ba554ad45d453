// morvane-cli: the core of Morvane without a window.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/commands.h"
#include "version.h"

namespace morvane::cli {

static const Command kCommands[] = {
    {"demo", "[--out DIR] [--force]",
     "Install the demo content and run Morvane's main job on it", RunDemo},
    {"scan", "FOLDER [--deep] [--threads N]", "Index a folder of sound files into a library", RunScan},
    {"library", "list | show NAME [--json]", "List the libraries, or show the files of one", RunLibrary},
    {"relink", "[--folder DIR]", "Find moved sound files again by their content", RunRelink},
    {"info", "PROJECT [--dump]", "Summarise a project file, or write it as read (--dump)", RunInfo},
    {"trace", "VIDEO [--project P] [--import] [--sensitivity S]", "Read the picture of a video and propose events", RunTrace},
    {"import-markers", "SESSION.txt --project P [--fps F]", "Import Pro Tools session text markers into a project", RunImportMarkers},
    {"build", "PROJECT [--event N] [--range START END] [--salt S] [--seed S] [--dry-run]", "Choose sounds for the events and place their layers", RunBuild},
    {"export", "PROJECT --out DIR [--mix] [--stems] [--tracks] [--clips] [--reverb-stem] [--lufs -14|-16|-18|-23] [--layout stereo|5.1|7.1.4|ambix] [--range IN OUT] [--aaf [--handles SECONDS | --full-source] [--fade-in SECONDS] [--fade-out SECONDS] [--snap] [--markers] [--clip-gain] [--source-channels] [--fill-virtual]]", "Render the built timeline and write it as Broadcast WAV files and/or an AAF session", RunExport},
    {"variations", "PROJECT --events I,J --count N --out DIR", "Write numbered takes of events, each drawn anew", RunVariations},
    {"bounce", "PROJECT --events I,J", "Freeze events into one audio clip that replaces them", RunBounce},
    {"revert-bounce", "PROJECT --event I", "Put back the events a bounced clip was made from", RunRevertBounce},
    {"render", "PROJECT --out FILE.wav [--range START END]", "Render the built timeline through the mixer into a 24-bit WAV file", RunRender},
    {"play", "PROJECT [--from T]", "Play the built timeline through the audio device (Ctrl-C stops)", RunPlay},
};

const Command* AllCommands(int* count) {
    *count = static_cast<int>(sizeof(kCommands) / sizeof(kCommands[0]));
    return kCommands;
}

void PrintUsage(const Command& command) {
    std::printf("usage: morvane-cli %s %s\n  %s\n", command.name, command.usage, command.summary);
}

int UsageError(const char* commandName) {
    int count = 0;
    const Command* commands = AllCommands(&count);
    for (int i = 0; i < count; ++i)
        if (std::strcmp(commands[i].name, commandName) == 0)
            std::fprintf(stderr, "usage: morvane-cli %s %s\n", commands[i].name, commands[i].usage);
    return 2;
}

int ReadCommandLine(const char* commandName, int argc, char** argv, CommandLine* line) {
    const CommandRules* rules = FindCommandRules(commandName);
    std::string error = "the command has no rules";
    if (rules != nullptr && ParseCommandLine(*rules, argc, argv, line, &error)) return 0;
    // One line: what is wrong, then how the command is used.
    int count = 0;
    const Command* commands = AllCommands(&count);
    const char* usage = "";
    for (int i = 0; i < count; ++i)
        if (std::strcmp(commands[i].name, commandName) == 0) usage = commands[i].usage;
    std::fprintf(stderr, "morvane-cli %s: %s; usage: morvane-cli %s %s\n", commandName, error.c_str(), commandName,
                 usage);
    return 2;
}

bool WantsHelp(const Command& command, int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            PrintUsage(command);
            return true;
        }
    }
    return false;
}

static void PrintOverview(std::FILE* out) {
    std::fprintf(out,
                 "morvane-cli %s - sound design to picture, without a window\n\n"
                 "usage: morvane-cli [--help | --version]\n"
                 "       morvane-cli COMMAND [ARGS...]   (COMMAND --help for its options)\n\n"
                 "commands:\n",
                 MORVANE_VERSION);
    int count = 0;
    const Command* commands = AllCommands(&count);
    for (int i = 0; i < count; ++i)
        std::fprintf(out, "  %-16s %s\n", commands[i].name, commands[i].summary);
}

}  // namespace morvane::cli

int main(int argc, char** argv) {
    using namespace morvane::cli;
    if (argc < 2) {
        PrintOverview(stderr);
        return 2;
    }
    const char* first = argv[1];
    if (std::strcmp(first, "--help") == 0 || std::strcmp(first, "-h") == 0 ||
        std::strcmp(first, "help") == 0) {
        PrintOverview(stdout);
        return 0;
    }
    if (std::strcmp(first, "--version") == 0) {
        std::printf("%s\n", MORVANE_VERSION);
        return 0;
    }
    int count = 0;
    const Command* commands = AllCommands(&count);
    for (int i = 0; i < count; ++i) {
        if (std::strcmp(commands[i].name, first) == 0) {
            if (WantsHelp(commands[i], argc - 1, argv + 1)) return 0;
            return commands[i].run(argc - 1, argv + 1);
        }
    }
    std::fprintf(stderr, "morvane-cli: unknown command '%s' (see morvane-cli --help)\n", first);
    return 2;
}
