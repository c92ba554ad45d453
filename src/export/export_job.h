#pragma once
// The export job: one worker thread over a snapshot of the project and its
// rendered audio, so the user interface keeps working. The frame loop polls the
// status text and the finished flag and then takes the result over.
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "export/export_snapshot.h"
#include "export/wav_export.h"

namespace morvane {

struct ExportOutcome {
    int files = 0;  // WAV files kept, plus one for a written AAF session
    int wavFiles = 0;
    bool aafFailed = false;
    int failedKinds = 0;  // WAV kinds rolled back after a failure
    bool cancelled = false;
    std::vector<std::string> written;
    std::string resultText;  // "Export complete — 3 files", "AAF export FAILED — 2 WAVs written", ...
    std::string failure;     // what failed first and why: "clips: cannot create ...: File name too long"
};

// The body of the job, on the calling thread: the AAF session when chosen, then
// the WAV kinds. `status` receives "Exporting AAF…", "Exporting mix…", ...
ExportOutcome RunExport(const ExportSnapshot& snapshot, const ExportObserver& observer,
                        const std::function<void(const std::string&)>& status);

// The result text of an outcome.
std::string ExportResultText(const ExportOutcome& outcome);

// Why the export cannot start now ("Build the timeline first", "Select at least one
// format", "Select at least one WAV output type", "Waiting for audio cache…",
// "Export in progress…"), or empty when it can.
std::string ExportStartBlocker(bool built, const ExportSettings& settings, bool cacheReady, bool exportRunning);

// " Export WAV", " Export AAF", " Export AAF + WAV", or " Exporting…" while one runs.
const char* ExportButtonLabel(const ExportSettings& settings, bool exportRunning);

struct ExportJob {
    std::atomic<bool> running{false};   // from start until the result is taken over
    std::atomic<bool> finished{false};  // set by the worker as its last act
    std::atomic<bool> cancel{false};
    std::atomic<float> progress{0.0f};  // of the current kind
    std::mutex mutex;                   // guards the texts and the outcome
    std::string status;
    ExportOutcome outcome;
    std::thread worker;

    ExportJob() = default;
    ExportJob(const ExportJob&) = delete;
    ExportJob& operator=(const ExportJob&) = delete;
    ~ExportJob();
};

// Starts the job on its own thread. False (nothing started) while one runs.
bool StartExportJob(ExportJob& job, std::shared_ptr<const ExportSnapshot> snapshot);

std::string ExportStatusText(ExportJob& job);

// Once the worker has finished: joins it, hands over the outcome and makes the job
// idle again. False while it still runs or when none ran.
bool TakeExportOutcome(ExportJob& job, ExportOutcome* outcome);

}  // namespace morvane
