#pragma once

#include "mining/query_outcome.h"
#include "mining/text.h"

#include <cstddef>
#include <memory>

namespace morvane {

class CancelToken;

// Where a job stands when it has finished a seed line.
struct SeedProgress {
    std::size_t index;     // the seed line's position in the seed box, from 0
    std::size_t total;     // the number of seed lines
    const Text& seed;      // the line; empty for an empty line, which is not asked
    const WordList& words; // the words its request brought, in the service's order, as the job emitted them
};

// The control operations a mining job performs on its front end, all with GBK texts and CR LF line breaks.
// The window carries each one out on its GUI thread, in the order issued, while the worker waits; the
// command-line front end and the tests implement them directly. No GUI type appears here.
class JobControls {
public:
    virtual ~JobControls() = default;

    // Called on the owner's thread just before a job starts on its worker. A front end whose operations wait
    // for another thread keeps cancel, to stop waiting and to drop pending operations once it is cancelled; it
    // may keep it beyond the job, so that an operation still queued when the job ends can tell that it is stale.
    virtual void JobStarting(const std::shared_ptr<CancelToken>& cancel) { (void)cancel; }

    // The whole text of the seed box (母词列表_编辑框).
    virtual Text ReadSeedText() = 0;
    // The whole text of the result box (长尾词列表_编辑框).
    virtual Text ReadResultText() = 0;
    // Replaces the whole text of the result box.
    virtual void SetResultText(const Text& text) = 0;
    // Appends text to the result box: the same result as reading it, appending and setting it back, at a
    // cost in proportion to text rather than to the box.
    virtual void AppendResultText(const Text& text) = 0;
    // The number of lines of the result box, as SplitLines counts them.
    virtual std::size_t CountResultLines() { return CountLines(ReadResultText()); }
    // The position of the selected entry of the region list (地区_组合框).
    virtual int ReadRegionSelection() = 0;
    // The area id stored with the region entry at position; -1 outside the list.
    virtual int ReadAreaId(int position) = 0;
    // Sets the caption of the keyword total (关键词总数_标签).
    virtual void SetKeywordTotal(const Text& caption) = 0;
    // Sets the status bar's text (状态条1).
    virtual void SetStatusText(const Text& text) = 0;
    // Enables the Start button (开始获取_按钮).
    virtual void EnableStart() = 0;

    // Called on the job's thread after the request for every non-empty seed line, with what became of it
    // (a recommendation, no reply, a time-out, an error page...). The job goes on as ever; the window shows
    // nothing, a batch front end may warn.
    virtual void SeedQueried(const Text& seed, const QueryReport& report) {
        (void)seed;
        (void)report;
    }

    // Called on the job's thread after every seed line, empty ones included, once its words have been emitted and
    // before the progress status ("正在挖(…%)..."). A front end that follows the job seed by seed (a batch front
    // end, say) takes seed, words and progress from here; the window shows the status texts instead.
    virtual void SeedDone(const SeedProgress& progress) { (void)progress; }

    // Called on the job's thread when the job could not get memory. The job has already been unwound and ends
    // right after, not run to its end; a front end reports the failure as it sees fit.
    virtual void AllocationFailed() {}
};

} // namespace morvane
