#pragma once

#include "cli/progress.h"
#include "cli/query_warnings.h"
#include "cli/seed_input.h"
#include "cli/word_writer.h"
#include "mining/job_controls.h"

#include <chrono>
#include <cstddef>
#include <memory>

namespace morvane {

// The JobControls of morvane-mine. The seed box holds the current level's seed lines and the region list has
// the chosen area selected. The job emits its words nowhere (the run sets no output mode): they come with each seed
// line's progress (SeedDone), go to the writer tagged with that seed line as one block, and drive the progress
// display; the result box stays empty and the status texts go unshown. Every operation runs on the job's thread;
// the owner touches the controls only between jobs.
class MineControls final : public JobControls {
public:
    // timeout is the run's --timeout, which the time-out warnings name.
    MineControls(WordWriter& writer, ProgressReporter& progress, int areaId, std::chrono::milliseconds timeout)
        : m_writer(writer), m_progress(progress), m_areaId(areaId), m_warnings(timeout) {}

    // Sets the seed box for the next job: level (from 1) and its seed lines.
    void BeginLevel(int level, SeedLines seeds);

    // True when the output failed during the last job, which was then ended.
    bool OutputFailed() const { return m_outputFailed; }

    // True when the last job ran out of memory.
    bool OutOfMemory() const { return m_outOfMemory; }

    void JobStarting(const std::shared_ptr<CancelToken>& cancel) override;
    Text ReadSeedText() override;
    // The box stays empty.
    Text ReadResultText() override;
    void SetResultText(const Text& text) override;
    void AppendResultText(const Text& text) override;
    int ReadRegionSelection() override;
    int ReadAreaId(int position) override;
    void SetKeywordTotal(const Text& caption) override;
    void SetStatusText(const Text& text) override;
    void EnableStart() override;
    // Warns about a request that brought no recommendation, naming the seed line (see QueryWarnings).
    void SeedQueried(const Text& seed, const QueryReport& report) override;
    // Writes the seed line's words as one block and shows the progress; a failed write ends the job.
    void SeedDone(const SeedProgress& progress) override;
    // Memory ran out inside the job: says so; the run then fails.
    void AllocationFailed() override;

    // The counts of the failed requests of the whole run, one line per kind that happened more than once.
    std::vector<std::string> QuerySummary() const { return m_warnings.Summary(); }

private:
    WordWriter& m_writer;
    ProgressReporter& m_progress;
    int m_areaId;
    std::shared_ptr<CancelToken> m_cancel;
    int m_level = 1;
    SeedLines m_seeds;
    std::size_t m_seedsDone = 0; // seed lines done so far: the index of the seed line being mined
    bool m_outputFailed = false;
    bool m_outOfMemory = false;
    QueryWarnings m_warnings;
};

} // namespace morvane
