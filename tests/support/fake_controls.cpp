#include "tests/support/fake_controls.h"

#include "mining/region_table.h"

namespace morvane::test {

void FakeControls::Record(std::string operation) {
    if (beforeOperation) {
        beforeOperation(operation);
    }
    std::lock_guard lock(m_mutex);
    if (m_sealed) {
        ++m_stray;
    }
    m_operations.push_back(std::move(operation));
    m_changed.notify_all();
}

Text FakeControls::ReadSeedText() {
    Record("readSeeds");
    std::lock_guard lock(m_mutex);
    return seedText;
}

void FakeControls::SetSeedText(Text text) {
    std::lock_guard lock(m_mutex);
    seedText = std::move(text);
}

Text FakeControls::ReadResultText() {
    Record("readResults");
    std::lock_guard lock(m_mutex);
    return m_resultText;
}

void FakeControls::SetResultText(const Text& text) {
    Record("setResults:" + text);
    std::lock_guard lock(m_mutex);
    m_resultText = text;
}

void FakeControls::AppendResultText(const Text& text) {
    Record("append:" + text);
    std::lock_guard lock(m_mutex);
    m_resultText += text;
}

int FakeControls::ReadRegionSelection() {
    Record("readRegion");
    std::lock_guard lock(m_mutex);
    return regionSelection;
}

int FakeControls::ReadAreaId(int position) {
    Record("readAreaId");
    return AreaIdAt(position);
}

void FakeControls::SetKeywordTotal(const Text& caption) {
    Record("total:" + caption);
    std::lock_guard lock(m_mutex);
    m_keywordTotals.push_back(caption);
}

void FakeControls::SetStatusText(const Text& text) {
    Record("status:" + text);
    std::lock_guard lock(m_mutex);
    m_statusTexts.push_back(text);
}

void FakeControls::EnableStart() {
    Record("enableStart");
    std::lock_guard lock(m_mutex);
    ++m_startEnabled;
    m_changed.notify_all();
}

void FakeControls::SeedQueried(const Text& seed, const QueryReport& report) {
    Record("queried:" + seed);
    std::lock_guard lock(m_mutex);
    m_reports.emplace_back(seed, report);
}

void FakeControls::SeedDone(const SeedProgress& progress) {
    std::string entry =
        std::to_string(progress.index) + "/" + std::to_string(progress.total) + " " + progress.seed + ":";
    for (std::size_t i = 0; i < progress.words.size(); ++i) {
        entry += (i == 0 ? " " : ",") + progress.words[i];
    }
    Record("seedDone:" + entry);
    std::lock_guard lock(m_mutex);
    m_progress.push_back(std::move(entry));
}

Text FakeControls::ResultText() const {
    std::lock_guard lock(m_mutex);
    return m_resultText;
}

std::vector<Text> FakeControls::StatusTexts() const {
    std::lock_guard lock(m_mutex);
    return m_statusTexts;
}

std::vector<Text> FakeControls::KeywordTotals() const {
    std::lock_guard lock(m_mutex);
    return m_keywordTotals;
}

int FakeControls::StartEnabledCount() const {
    std::lock_guard lock(m_mutex);
    return m_startEnabled;
}

std::vector<std::pair<Text, QueryReport>> FakeControls::Reports() const {
    std::lock_guard lock(m_mutex);
    return m_reports;
}

std::vector<std::string> FakeControls::Progress() const {
    std::lock_guard lock(m_mutex);
    return m_progress;
}

std::vector<std::string> FakeControls::Operations() const {
    std::lock_guard lock(m_mutex);
    return m_operations;
}

bool FakeControls::WaitForOperations(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_operations.size() >= count || m_startEnabled > 0; });
}

bool FakeControls::WaitForEnd(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_startEnabled > 0; });
}

void FakeControls::Seal() {
    std::lock_guard lock(m_mutex);
    m_sealed = true;
}

int FakeControls::StrayOperations() const {
    std::lock_guard lock(m_mutex);
    return m_stray;
}

} // namespace morvane::test
