#include "cli/mine_controls.h"

#include "mining/cancel_token.h"
#include "mining/mining_job.h"
#include "mining/region_table.h"

namespace morvane {

void MineControls::BeginLevel(int level, SeedLines seeds) {
    m_level = level;
    m_seeds = std::move(seeds);
    m_seedsDone = 0;
    m_outOfMemory = false;
}

void MineControls::JobStarting(const std::shared_ptr<CancelToken>& cancel) {
    m_cancel = cancel;
}

Text MineControls::ReadSeedText() {
    return JoinSeedLines(m_seeds.seeds);
}

Text MineControls::ReadResultText() {
    return {};
}

void MineControls::SetResultText(const Text& /*text*/) {}

void MineControls::AppendResultText(const Text& /*text*/) {}

int MineControls::ReadRegionSelection() {
    return m_areaId;
}

int MineControls::ReadAreaId(int position) {
    return AreaIdAt(position);
}

void MineControls::SetKeywordTotal(const Text& /*caption*/) {
    // The caption counts this level's result box; the progress display shows the words written in the whole
    // run instead, which after filters and --unique is what the user actually gets.
}

void MineControls::SetStatusText(const Text& /*text*/) {
    // SeedDone gives the progress, and the run shows how each job ended.
}

void MineControls::EnableStart() {}

void MineControls::SeedQueried(const Text& /*seed*/, const QueryReport& report) {
    // The report comes before the SeedDone of its seed line, so the lines done so far give its index.
    const std::string lineName = "line " + std::to_string(m_seedsDone + 1) +
                                 (m_level > 1 ? " of level " + std::to_string(m_level) : std::string());
    if (const std::string warning = m_warnings.Take(report, lineName); !warning.empty()) {
        m_progress.Warn(warning);
    }
}

void MineControls::SeedDone(const SeedProgress& progress) {
    m_seedsDone = progress.index + 1;
    const std::string_view shownSeed =
        progress.index < m_seeds.shown.size() ? std::string_view(m_seeds.shown[progress.index]) : std::string_view();
    for (const Text& word : progress.words) {
        m_writer.AddWord(m_level, shownSeed, word);
    }
    if (!m_writer.FlushSeed()) {
        m_outputFailed = true;
        if (m_cancel != nullptr) {
            m_cancel->Cancel();
        }
        return;
    }
    m_progress.SeedDone(MiningStatusText(m_seedsDone, progress.total), m_seedsDone, progress.total,
                        m_writer.WordsWritten());
}

void MineControls::AllocationFailed() {
    m_outOfMemory = true;
}

} // namespace morvane
