#pragma once
// A job the user waits for (reading a long file, a render the next step needs): it runs
// on its own thread while the window shows its title and progress over everything else
// and Escape asks it to stop. One at a time.
#include <functional>
#include <string>

namespace morvane {

// work runs on the job's thread; it reports the fraction done through progress, which
// returns false once the user asked to cancel (work should then return soon). finished
// runs on the main thread at the first frame after work returned, with work's result
// and whether it was cancelled. False when another job is running.
bool StartBlockingJob(const std::string& title, std::function<bool(const std::function<bool(float)>& progress)> work,
                      std::function<void(bool ok, bool cancelled)> finished);

bool BlockingJobRunning();
std::string BlockingJobTitle();
float BlockingJobProgress();  // 0..1; negative while the job has not said
bool BlockingJobCancelling();
void CancelBlockingJob();

// Main thread, every frame: hands a finished job's result to its callback.
void PollBlockingJob();

// Waits for a running job (shutdown), asking it to stop first.
void StopBlockingJob();

}  // namespace morvane
