#include "app/blocking_job.h"

#include <atomic>
#include <mutex>
#include <thread>

namespace morvane {

namespace {

struct Job {
    std::thread worker;
    std::atomic<bool> running{false};
    std::atomic<bool> done{false};
    std::atomic<bool> cancel{false};
    std::atomic<float> progress{-1.0f};
    std::atomic<bool> ok{false};
    std::mutex titleMutex;
    std::string title;
    std::function<void(bool, bool)> finished;  // main thread only
};

Job& TheJob() {
    static Job job;
    return job;
}

}  // namespace

bool StartBlockingJob(const std::string& title, std::function<bool(const std::function<bool(float)>&)> work,
                      std::function<void(bool ok, bool cancelled)> finished) {
    Job& job = TheJob();
    if (job.running.load()) return false;
    if (job.worker.joinable()) job.worker.join();
    {
        std::lock_guard<std::mutex> lock(job.titleMutex);
        job.title = title;
    }
    job.finished = std::move(finished);
    job.cancel = false;
    job.done = false;
    job.progress = -1.0f;
    job.running = true;
    job.worker = std::thread([work = std::move(work)] {
        Job& j = TheJob();
        auto progress = [](float fraction) {
            TheJob().progress = fraction < 0.0f ? 0.0f : (fraction > 1.0f ? 1.0f : fraction);
            return !TheJob().cancel.load();
        };
        j.ok = work ? work(progress) : false;
        j.done = true;
    });
    return true;
}

bool BlockingJobRunning() { return TheJob().running.load(); }

std::string BlockingJobTitle() {
    Job& job = TheJob();
    std::lock_guard<std::mutex> lock(job.titleMutex);
    return job.title;
}

float BlockingJobProgress() { return TheJob().progress.load(); }
bool BlockingJobCancelling() { return TheJob().cancel.load(); }
void CancelBlockingJob() { TheJob().cancel = true; }

void PollBlockingJob() {
    Job& job = TheJob();
    if (!job.running.load() || !job.done.load()) return;
    job.worker.join();
    job.running = false;
    auto finished = std::move(job.finished);
    job.finished = nullptr;
    if (finished) finished(job.ok.load(), job.cancel.load());
}

void StopBlockingJob() {
    Job& job = TheJob();
    job.cancel = true;
    if (job.worker.joinable()) job.worker.join();
    job.running = false;
    job.finished = nullptr;
}

}  // namespace morvane
