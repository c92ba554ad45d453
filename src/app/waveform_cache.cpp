#include "app/waveform_cache.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

namespace morvane {
namespace {

struct WaveformReader {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::string> queue;  // paths to read, oldest first
    std::vector<std::pair<std::string, std::unique_ptr<WaveformOverview>>> done;
    bool stop = false;
    std::thread worker;

    // Interface thread: what was asked for (read or not) and what was read.
    std::unordered_map<std::string, std::unique_ptr<WaveformOverview>> known;

    ~WaveformReader() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stop = true;
        }
        wake.notify_all();
        if (worker.joinable()) worker.join();
    }

    void Run() {
        std::unique_lock<std::mutex> lock(mutex);
        while (true) {
            wake.wait(lock, [&] { return stop || !queue.empty(); });
            if (stop) return;
            const std::string path = std::move(queue.front());
            queue.pop_front();
            lock.unlock();
            ComputeWaveformOverview(path);
            auto overview = std::make_unique<WaveformOverview>();
            if (!FindWaveformOverview(path, overview.get())) overview.reset();
            lock.lock();
            done.emplace_back(path, std::move(overview));
        }
    }
};

WaveformReader& Reader() {
    static WaveformReader reader;
    return reader;
}

}  // namespace

const WaveformOverview* CachedWaveform(const std::string& path) {
    if (path.empty()) return nullptr;
    WaveformReader& r = Reader();
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        for (auto& [donePath, overview] : r.done) r.known[donePath] = std::move(overview);
        r.done.clear();
    }
    const auto found = r.known.find(path);
    if (found != r.known.end()) return found->second.get();
    r.known.emplace(path, nullptr);  // asked for: not queued twice
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        r.queue.push_back(path);
        if (!r.worker.joinable()) r.worker = std::thread([&r] { r.Run(); });
    }
    r.wake.notify_one();
    return nullptr;
}

float PeakAt(const WaveformOverview& overview, float seconds) {
    if (overview.peak.empty() || overview.duration <= 0.0f || seconds < 0.0f || seconds >= overview.duration)
        return 0.0f;
    const size_t index = std::min(overview.peak.size() - 1,
                                  static_cast<size_t>(seconds / overview.duration * static_cast<float>(overview.peak.size())));
    return overview.peak[index];
}

}  // namespace morvane
