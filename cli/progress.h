#pragma once

#include "mining/text.h"

#include <cstddef>
#include <iosfwd>
#include <string>

namespace morvane {

// Shows a run's progress on standard error, always in UTF-8. On a terminal it keeps one live line with a bar,
// the percentage and the words written so far; otherwise it writes one line per status text the job shows
// ("正在挖(…%)..." after every seed line, then "停止挖！" or "强制停止！"). With several levels a short line
// names each level as it starts. Quiet shows nothing but warnings.
class ProgressReporter {
public:
    ProgressReporter(std::ostream& err, bool terminal, bool quiet) : m_err(err), m_terminal(terminal), m_quiet(quiet) {}

    // A level of depth starts over seedLines seed lines.
    void LevelStarted(int level, int depth, std::size_t seedLines);

    // The job finished seed line counter of total and showed statusText (GBK); words have been written so far.
    void SeedDone(const Text& statusText, std::size_t counter, std::size_t total, std::size_t words);

    // The job or the run ended with statusText (GBK): "停止挖！" or "强制停止！".
    void Finished(const Text& statusText);

    // A warning line ("morvane-mine: " + message), shown even when quiet.
    void Warn(const std::string& message);

private:
    void DrawLiveLine(std::size_t counter, std::size_t total, std::size_t words);
    void EndLiveLine();

    std::ostream& m_err;
    bool m_terminal;
    bool m_quiet;
    bool m_liveLineShown = false;
    int m_level = 1;
    int m_depth = 1;
};

} // namespace morvane
