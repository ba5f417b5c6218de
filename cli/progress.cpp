#include "cli/progress.h"

#include "mining/encoding.h"

#include <algorithm>
#include <ostream>

namespace morvane {
namespace {

constexpr std::size_t kBarWidth = 30;

std::string ToUtf8(const Text& text) {
    return ConvertEncoding(text, "GBK", "UTF-8");
}

} // namespace

void ProgressReporter::LevelStarted(int level, int depth, std::size_t seedLines) {
    m_level = level;
    m_depth = depth;
    if (m_quiet) {
        return;
    }
    if (depth > 1) {
        EndLiveLine();
        m_err << "level " << level << "/" << depth << ": " << seedLines
              << (seedLines == 1 ? " seed line" : " seed lines") << "\n";
    }
    if (m_terminal) {
        DrawLiveLine(0, seedLines, 0);
    }
    m_err.flush();
}

void ProgressReporter::SeedDone(const Text& statusText, std::size_t counter, std::size_t total, std::size_t words) {
    if (m_quiet) {
        return;
    }
    if (m_terminal) {
        DrawLiveLine(counter, total, words);
    } else {
        m_err << ToUtf8(statusText) << "\n";
    }
    m_err.flush();
}

void ProgressReporter::Finished(const Text& statusText) {
    if (m_quiet) {
        return;
    }
    EndLiveLine();
    m_err << ToUtf8(statusText) << "\n";
    m_err.flush();
}

void ProgressReporter::Warn(const std::string& message) {
    EndLiveLine();
    m_err << "morvane-mine: " << message << "\n";
    m_err.flush();
}

void ProgressReporter::DrawLiveLine(std::size_t counter, std::size_t total, std::size_t words) {
    const std::size_t percent = total == 0 ? 100 : counter * 100 / total;
    const std::size_t filled = total == 0 ? kBarWidth : counter * kBarWidth / total;
    std::string line = "\r\x1b[K";
    if (m_depth > 1) {
        line += "level " + std::to_string(m_level) + "/" + std::to_string(m_depth) + " ";
    }
    line += "[";
    line.append(filled, '#');
    line.append(kBarWidth - filled, '-');
    line += "] ";
    const std::string percentText = std::to_string(percent);
    line.append(3 - std::min<std::size_t>(3, percentText.size()), ' ');
    line += percentText + "%  " + std::to_string(words) + (words == 1 ? " word" : " words");
    m_err << line;
    m_liveLineShown = true;
}

void ProgressReporter::EndLiveLine() {
    if (m_liveLineShown) {
        m_err << "\n";
        m_liveLineShown = false;
    }
}

} // namespace morvane
