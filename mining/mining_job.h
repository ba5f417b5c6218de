#pragma once

#include "mining/cancel_token.h"
#include "mining/job_controls.h"
#include "mining/output_target.h"
#include "mining/recommendations.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <thread>

namespace morvane {

// The pause after every seed line, which paces the requests to a remote service.
inline constexpr std::chrono::milliseconds kSeedPause{300};

// Status texts of a job (GBK).
inline constexpr std::string_view kStatusMiningPrefix = "\xd5\xfd\xd4\xda\xcd\xda(";           // 正在挖(
inline constexpr std::string_view kStatusMiningSuffix = "%)...";                               // %)...
inline constexpr std::string_view kStatusFinished = "\xcd\xa3\xd6\xb9\xcd\xda\xa3\xa1";        // 停止挖！
inline constexpr std::string_view kStatusStopped = "\xc7\xbf\xd6\xc6\xcd\xa3\xd6\xb9\xa3\xa1"; // 强制停止！

// "正在挖(" + percent + "%)..." for counter of total seed lines done.
Text MiningStatusText(std::size_t counter, std::size_t total);

// What one job needs besides its controls.
struct JobContext {
    JobControls& controls;
    const OutputTarget& output;
    const RecommendationService& service;
    std::chrono::milliseconds pause = kSeedPause;
    CancelToken& cancel;
};

// Runs one whole job on the calling thread: reads the seed box and the region once, queries the service for
// every non-empty seed line, emits the words, reports the seed's progress (SeedDone), the progress status and the
// keyword total after every line and pauses; at the end shows "停止挖！" and enables Start. Returns early, with nothing
// more done, once context.cancel is cancelled. True when the job ran to its end.
bool MiningJob(JobContext& context);

// Writes one seed's words to the output that context.output names now: appended to the result box (mode 1),
// or appended as whole CR LF lines to the output file (mode 2; a file that does not open loses these words).
void EmitWords(const WordList& words, JobContext& context);

// Runs mining jobs on a worker thread, one at a time. Start, EndMiningJob and Wait are called from the thread
// that owns the worker; RequestEnd from any thread. Usage:
//
//     MiningWorker worker(controls, output, RecommendationService(base));
//     worker.Start();        // returns at once; the job reports through controls
//     ...
//     worker.EndMiningJob(); // Stop: the job ends at once and nothing of it happens afterwards
class MiningWorker {
public:
    MiningWorker(JobControls& controls, const OutputTarget& output, RecommendationService service,
                 std::chrono::milliseconds pause = kSeedPause);
    ~MiningWorker();
    MiningWorker(const MiningWorker&) = delete;
    MiningWorker& operator=(const MiningWorker&) = delete;

    // Starts a job on a new thread; a job still running is ended first. False when no thread could be started.
    bool Start();

    // Ends the running job at once: cancels it, wakes it wherever it waits (request, pause, control
    // operation) and joins its thread. From its return nothing of that job takes effect. No job: nothing.
    void EndMiningJob();

    // Asks the running job to end, from any thread (a signal watcher, say), without waiting for it.
    void RequestEnd();

    // Waits for the job to end by itself or after RequestEnd; true when it ran to its end uncancelled.
    bool Wait();

private:
    void Join();

    JobControls& m_controls;
    const OutputTarget& m_output;
    RecommendationService m_service;
    std::chrono::milliseconds m_pause;
    std::mutex m_tokenMutex; // guards m_cancel against RequestEnd from another thread
    std::shared_ptr<CancelToken> m_cancel;
    std::thread m_thread;
    bool m_completed = false; // written by the worker, read after joining it
};

} // namespace morvane
