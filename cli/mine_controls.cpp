#include "cli/mine_controls.h"

#include "mining/cancel_token.h"
#include "mining/mining_job.h"
#include "mining/region_table.h"

namespace morvane {

void MineControls::BeginLevel(int level, SeedLines seeds) {
    m_level = level;
    m_seeds = std::move(seeds);
    m_seedsDone = 0;
    m_boxLines.Reset();
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

void MineControls::SetResultText(const Text& text) {
    m_boxLines.Reset();
    m_boxLines.Append(text);
}

void MineControls::AppendResultText(const Text& text) {
    m_boxLines.Append(text);
    std::string_view word = text;
    if (word.ends_with(kLineBreak)) {
        word.remove_suffix(kLineBreak.size());
    }
    if (word.empty()) {
        return;
    }
    // The job shows a progress status after every seed line, so the statuses seen so far give the index of the
    // seed line whose words are arriving.
    const std::string_view seed =
        m_seedsDone < m_seeds.shown.size() ? std::string_view(m_seeds.shown[m_seedsDone]) : std::string_view();
    m_writer.AddWord(m_level, seed, Text(word));
}

std::size_t MineControls::CountResultLines() {
    return m_boxLines.Count();
}

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

void MineControls::SetStatusText(const Text& text) {
    if (!text.starts_with(kStatusMiningPrefix)) {
        m_progress.Finished(text);
        return;
    }
    ++m_seedsDone;
    if (!m_writer.FlushSeed()) {
        m_outputFailed = true;
        if (m_cancel != nullptr) {
            m_cancel->Cancel();
        }
        return;
    }
    m_progress.SeedDone(text, m_seedsDone, m_seeds.seeds.size(), m_writer.WordsWritten());
}

void MineControls::EnableStart() {}

void MineControls::SeedQueried(const Text& /*seed*/, const QueryReport& report) {
    // The report comes before the progress status of its seed line, so the statuses so far give its index.
    const std::string lineName = "line " + std::to_string(m_seedsDone + 1) +
                                 (m_level > 1 ? " of level " + std::to_string(m_level) : std::string());
    if (const std::string warning = m_warnings.Take(report, lineName); !warning.empty()) {
        m_progress.Warn(warning);
    }
}

} // namespace morvane
