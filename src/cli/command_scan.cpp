// morvane-cli scan: index a folder of sound files into a library, as Add Folder does.
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "cli/commands.h"
#include "cli/progress.h"
#include "library/libraries.h"
#include "library/scan.h"

namespace morvane::cli {

namespace {

volatile std::sig_atomic_t gInterrupted = 0;

void OnInterrupt(int) { gInterrupted = 1; }

// MORVANE_TEST_KILL_AT_FILE=N kills the process with SIGKILL as the N-th file of the
// scan is finished, as a crash or a power cut would; tests use it to check that a
// killed scan keeps its work.
void KillAtFileWhenTesting(ScanState& state) {
    const char* text = std::getenv("MORVANE_TEST_KILL_AT_FILE");
    const long killAt = text != nullptr ? std::strtol(text, nullptr, 10) : 0L;
    if (killAt > 0)
        state.onFileDone = [killAt](int done) {
            if (done == killAt) ::kill(::getpid(), SIGKILL);
        };
}

void ShowScanProgress(ScanState& state, ProgressLine& line, double seconds) {
    const int done = state.doneCount.load();
    const int total = state.totalCount.load();
    const double rate = seconds > 0.0 ? done / seconds : 0.0;
    char detail[96];
    std::snprintf(detail, sizeof detail, "%d / %d files  %.0f files/s", done, total, rate);
    ShowProgress(line, total > 0 ? static_cast<float>(done) / static_cast<float>(total) : 0.0f, detail);
}

}  // namespace

int RunScan(int argc, char** argv) {
    CommandLine line;
    if (const int code = ReadCommandLine("scan", argc, argv, &line)) return code;
    std::string folder = line.positionals[0];
    const bool deep = HasOption(line, "--deep");
    const int threads = static_cast<int>(OptionNumber(line, "--threads", 0.0));
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();

    LibrarySet set;
    ScanState state;
    state.maxScanThreads = threads;
    KillAtFileWhenTesting(state);
    ProgressLine progress{"Scanning", isatty(STDERR_FILENO) != 0};
    gInterrupted = 0;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    sigaction(SIGINT, &action, &previous);

    const auto start = std::chrono::steady_clock::now();
    StartScan(state, set, folder, true, -1, deep);
    bool cancelled = false;
    while (state.running.load()) {
        if (gInterrupted && !cancelled) {
            cancelled = true;
            CancelScan(state);  // the scan still saves what it finished
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ShowScanProgress(state, progress, seconds);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    WaitForScan(state);
    sigaction(SIGINT, &previous, nullptr);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EndProgress(progress);

    const std::string error = ScanErrorText(state);
    if (!error.empty()) {
        std::fprintf(stderr, "morvane-cli scan: %s\n", error.c_str());
        return 1;
    }
    // A library whose index could not be written is gone when this command ends.
    if (const std::string indexError = ScanIndexErrorText(state); !indexError.empty()) {
        std::fprintf(stderr, "morvane-cli scan: %s\n", indexError.c_str());
        return 1;
    }
    const std::string status = ScanStatusText(state);
    if (state.totalCount.load() == 0) {
        std::fprintf(stderr, "morvane-cli scan: %s\n", status.empty() ? "Scan cancelled." : status.c_str());
        return 1;
    }
    std::vector<std::string> failed;
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        failed = state.failedFiles;
    }
    const int analysed = state.analysedCount.load();
    const int reused = state.reusedCount.load();
    if (analysed + reused == 0 && !failed.empty() && !cancelled) {
        std::fprintf(stderr, "morvane-cli scan: %s\n", status.c_str());
        return 1;
    }
    std::printf("%s%s %d analysed, %d re-used, %zu failed in %.1f s (%.0f files/s)\n",
                cancelled ? "Scan cancelled; partial library kept. " : "", status.c_str(), analysed, reused,
                failed.size(), seconds, seconds > 0 ? (analysed + reused + failed.size()) / seconds : 0.0);
    for (const std::string& name : failed) std::printf("failed: %s\n", name.c_str());
    const std::string indexPath = LibraryIndexPath(set, LibraryNameOfFolder(folder));
    if (indexPath.empty()) std::printf("index: none (no documents folder)\n");
    else if (analysed + reused > 0) std::printf("index: %s\n", indexPath.c_str());
    return cancelled ? 1 : 0;
}

}  // namespace morvane::cli
