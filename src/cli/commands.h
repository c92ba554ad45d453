#pragma once
// The commands of morvane-cli. Each returns the process exit code:
// 0 success, 1 a handled failure (one line on stderr), 2 bad usage.
#include "cli/command_arguments.h"

namespace morvane::cli {

struct Command {
    const char* name;
    const char* usage;    // arguments after the command name
    const char* summary;  // one line for the overview
    int (*run)(int argc, char** argv);  // argv[0] is the command name
};

// Every command, in the order the overview lists them.
const Command* AllCommands(int* count);

// True when argv holds "--help" or "-h"; prints the command's usage when so.
bool WantsHelp(const Command& command, int argc, char** argv);
void PrintUsage(const Command& command);

// Prints the usage line of the named command to stderr and returns 2 (bad usage).
int UsageError(const char* commandName);

// Reads the command's arguments by its rules. 0 when they are good; otherwise prints
// what is wrong and the usage line to stderr and returns 2.
int ReadCommandLine(const char* commandName, int argc, char** argv, CommandLine* line);

int RunDemo(int argc, char** argv);
int RunScan(int argc, char** argv);
int RunLibrary(int argc, char** argv);
int RunRelink(int argc, char** argv);
int RunInfo(int argc, char** argv);
int RunTrace(int argc, char** argv);
int RunImportMarkers(int argc, char** argv);
int RunBuild(int argc, char** argv);
int RunExport(int argc, char** argv);
int RunVariations(int argc, char** argv);
int RunBounce(int argc, char** argv);
int RunRevertBounce(int argc, char** argv);
int RunRender(int argc, char** argv);
int RunPlay(int argc, char** argv);

}  // namespace morvane::cli
