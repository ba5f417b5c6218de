#pragma once

#include "mining/job_controls.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace morvane::test {

// JobControls that keep the boxes in memory and record every status text, keyword total and Start
// enabling, in order. Safe to read from the test thread while a job writes from its worker.
class FakeControls : public JobControls {
public:
    Text seedText;
    int regionSelection = 0;

    // Replaces the seed box's text while a job may be reading it.
    void SetSeedText(Text text);

    Text ReadSeedText() override;
    Text ReadResultText() override;
    void SetResultText(const Text& text) override;
    void AppendResultText(const Text& text) override;
    int ReadRegionSelection() override;
    int ReadAreaId(int position) override;
    void SetKeywordTotal(const Text& caption) override;
    void SetStatusText(const Text& text) override;
    void EnableStart() override;
    void SeedQueried(const Text& seed, const QueryReport& report) override;
    void SeedDone(const SeedProgress& progress) override;

    // Snapshots of what the job did so far.
    Text ResultText() const;
    std::vector<Text> StatusTexts() const;
    std::vector<Text> KeywordTotals() const;
    int StartEnabledCount() const;
    // Every seed's report, in order.
    std::vector<std::pair<Text, QueryReport>> Reports() const;
    // Every seed line's progress, in order, as "index/total seed: word,word".
    std::vector<std::string> Progress() const;
    // Every control operation so far, one entry each ("status:...", "total:...", "append:...", ...).
    std::vector<std::string> Operations() const;

    // Waits until at least count operations have been recorded, or until Start has been enabled.
    bool WaitForOperations(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;
    // Waits until the job has enabled Start at the end of its run.
    bool WaitForEnd(std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;

    // From now on every operation counts as a stray one: the test has ended the job.
    void Seal();
    // Operations that arrived after Seal().
    int StrayOperations() const;

    // Runs before every operation, outside the lock, on the job's thread (to simulate a busy GUI thread or
    // to act at a chosen moment of the job).
    std::function<void(const std::string& operation)> beforeOperation;

private:
    void Record(std::string operation);

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    Text m_resultText;
    std::vector<Text> m_statusTexts;
    std::vector<Text> m_keywordTotals;
    std::vector<std::string> m_operations;
    std::vector<std::pair<Text, QueryReport>> m_reports;
    std::vector<std::string> m_progress;
    int m_startEnabled = 0;
    bool m_sealed = false;
    int m_stray = 0;
};

} // namespace morvane::test
