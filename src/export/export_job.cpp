#include "export/export_job.h"

#include <cstdio>

#include "export/aaf_export.h"

namespace morvane {

namespace {

const char* Plural(int n) { return n == 1 ? "" : "s"; }

}  // namespace

std::string ExportResultText(const ExportOutcome& o) {
    char text[160];
    if (o.aafFailed)
        std::snprintf(text, sizeof text, "AAF export FAILED — %d WAV%s written", o.wavFiles, Plural(o.wavFiles));
    else if (o.cancelled)
        std::snprintf(text, sizeof text, "Export cancelled — %d file%s kept", o.files, Plural(o.files));
    else if (o.failedKinds > 0)
        // A kind that could not be written is not a complete export, whatever else was.
        std::snprintf(text, sizeof text, "Export FAILED for %d kind%s — %d file%s written", o.failedKinds,
                      Plural(o.failedKinds), o.files, Plural(o.files));
    else
        std::snprintf(text, sizeof text, "Export complete — %d file%s", o.files, Plural(o.files));
    return text;
}

ExportOutcome RunExport(const ExportSnapshot& snapshot, const ExportObserver& observer,
                        const std::function<void(const std::string&)>& status) {
    ExportOutcome outcome;
    const ExportSettings& s = snapshot.request.settings;
    if (s.exportFormatAAF) {
        if (status) status("Exporting AAF…");
        std::string error;
        if (ExportAAF(snapshot, &error)) {
            ++outcome.files;
        } else {
            outcome.aafFailed = true;
            outcome.failure = "AAF: " + error;
        }
    }
    if (s.exportFormatWAV) {
        ExportObserver wav = observer;
        wav.kindStarted = [&](int kind, const std::string& text) {
            if (status) status(text);
            if (observer.kindStarted) observer.kindStarted(kind, text);
        };
        const WavExportResult result = RunWavExport(snapshot, wav);
        outcome.wavFiles = result.files;
        outcome.files += result.files;
        outcome.failedKinds = result.failedKinds;
        outcome.cancelled = result.cancelled;
        outcome.written = result.written;
        if (outcome.failure.empty()) outcome.failure = result.failure;
    }
    outcome.resultText = ExportResultText(outcome);
    std::printf("[Export] %s\n", outcome.resultText.c_str());
    std::fflush(stdout);
    return outcome;
}

std::string ExportStartBlocker(bool built, const ExportSettings& s, bool cacheReady, bool exportRunning) {
    if (exportRunning) return "Export in progress…";
    if (!built) return "Build the timeline first";
    if (!s.exportFormatWAV && !s.exportFormatAAF) return "Select at least one format";
    if (s.exportFormatWAV && !s.exportWavMixdown && !s.exportWavStems && !s.exportWavTracks && !s.exportWavClips)
        return "Select at least one WAV output type";
    if (!cacheReady) return "Waiting for audio cache…";
    return "";
}

const char* ExportButtonLabel(const ExportSettings& s, bool exportRunning) {
    if (exportRunning) return " Exporting…";
    if (s.exportFormatAAF && s.exportFormatWAV) return " Export AAF + WAV";
    if (s.exportFormatAAF) return " Export AAF";
    return " Export WAV";
}

ExportJob::~ExportJob() {
    cancel.store(true);
    if (worker.joinable()) worker.join();
}

bool StartExportJob(ExportJob& job, std::shared_ptr<const ExportSnapshot> snapshot) {
    if (!snapshot || job.running.exchange(true)) return false;
    if (job.worker.joinable()) job.worker.join();
    job.finished.store(false);
    job.cancel.store(false);
    job.progress.store(0.0f);
    {
        std::lock_guard<std::mutex> lock(job.mutex);
        job.status = "Exporting…";
        job.outcome = ExportOutcome{};
    }
    job.worker = std::thread([&job, snapshot] {
        ExportObserver observer;
        observer.cancel = &job.cancel;
        observer.progress = [&job](float f) { job.progress.store(f, std::memory_order_relaxed); };
        ExportOutcome outcome = RunExport(*snapshot, observer, [&job](const std::string& text) {
            std::lock_guard<std::mutex> lock(job.mutex);
            job.status = text;
        });
        {
            std::lock_guard<std::mutex> lock(job.mutex);
            job.status = outcome.resultText;
            job.outcome = std::move(outcome);
        }
        job.finished.store(true, std::memory_order_release);
    });
    return true;
}

std::string ExportStatusText(ExportJob& job) {
    std::lock_guard<std::mutex> lock(job.mutex);
    return job.status;
}

bool TakeExportOutcome(ExportJob& job, ExportOutcome* outcome) {
    if (!job.running.load() || !job.finished.load(std::memory_order_acquire)) return false;
    if (job.worker.joinable()) job.worker.join();
    {
        std::lock_guard<std::mutex> lock(job.mutex);
        if (outcome != nullptr) *outcome = job.outcome;
    }
    job.finished.store(false);
    job.running.store(false);
    return true;
}

}  // namespace morvane
