// A result-list job through the real window, offscreen, that fills the result list with 100,000 and then 200,000
// words, with no pause between seeds: the time of the whole job, and the longest gap between two events the GUI
// thread handled meanwhile (a 1 ms timer keeps an event always due, so a gap is time the GUI thread spent on one
// event: appending a word, counting the lines).
#include "mining/recommendations.h"
#include "tests/support/scripted_server.h"
#include "ui/commands.h"
#include "ui/fatal_error.h"
#include "ui/main_window.h"
#include "ui/program.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <ctime>
#include <string>

namespace morvane::ui {
namespace {

constexpr int kWordsPerSeed = 100;

using morvane::test::QueryValue;
using morvane::test::RecordedRequest;
using morvane::test::ScriptedServer;
using morvane::test::WordsReply;

// The CPU time the calling thread has used, in nanoseconds.
qint64 ThreadCpuNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<qint64>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// Notes the longest time between two events that the GUI thread handled: on the wall clock, which is what a
// person feels and which includes the time the thread waited for a core on a busy machine, and in the GUI
// thread's own CPU time, which is the work the program did in one go.
class GapMeter : public QObject {
public:
    void Start() {
        m_clock.start();
        m_lastWall = 0;
        m_lastCpu = ThreadCpuNanoseconds();
        m_longestWall = 0;
        m_longestCpu = 0;
        m_longestCpuEvent = QEvent::None;
    }
    qint64 LongestWallNanoseconds() const { return m_longestWall; }
    qint64 LongestCpuNanoseconds() const { return m_longestCpu; }
    QEvent::Type LongestCpuEvent() const { return m_longestCpuEvent; }

protected:
    // Sees every event of the application before its receiver does, and lets it through.
    bool eventFilter(QObject* /*watched*/, QEvent* event) override {
        const qint64 wall = m_clock.nsecsElapsed();
        const qint64 cpu = ThreadCpuNanoseconds();
        m_longestWall = std::max(m_longestWall, wall - m_lastWall);
        if (cpu - m_lastCpu > m_longestCpu) {
            m_longestCpu = cpu - m_lastCpu;
            m_longestCpuEvent = m_previousEvent;
        }
        m_lastWall = wall;
        m_lastCpu = cpu;
        m_previousEvent = event->type();
        return false;
    }

private:
    QElapsedTimer m_clock;
    qint64 m_lastWall = 0;
    qint64 m_lastCpu = 0;
    qint64 m_longestWall = 0;
    qint64 m_longestCpu = 0;
    QEvent::Type m_previousEvent = QEvent::None;
    QEvent::Type m_longestCpuEvent = QEvent::None;
};

void BM_ResultListJobThroughTheWindow(benchmark::State& state) {
    const auto words = static_cast<int>(state.range(0));
    ScriptedServer server;
    server.SetHandler([](const RecordedRequest& request) {
        const std::string seed = QueryValue(request, "word");
        std::vector<std::string> list;
        list.reserve(kWordsPerSeed);
        for (int i = 0; i < kWordsPerSeed; ++i) {
            list.push_back("手机" + seed + "w" + std::to_string(i));
        }
        return WordsReply(list);
    });
    ProgramState program;
    MainWindow window;
    Commands commands(window, program, RecommendationService(server.BaseUrl()), std::chrono::milliseconds(0));
    OnMainWindowCreated(program);
    window.show();
    QString seeds;
    for (int i = 0; i < words / kWordsPerSeed; ++i) {
        seeds += QStringLiteral("s%1\n").arg(i);
    }

    GapMeter gaps;
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    heartbeat.setInterval(1);
    qint64 longestGap = 0;
    qint64 longestCpuGap = 0;
    QEvent::Type longestCpuEvent = QEvent::None;
    for (auto _ : state) {
        window.母词列表_编辑框->SetText(seeds);
        QEventLoop loop;
        const QMetaObject::Connection ended = QObject::connect(&heartbeat, &QTimer::timeout, &loop, [&] {
            if (window.开始获取_按钮->isEnabled()) {
                loop.quit();
            }
        });
        heartbeat.start();
        qApp->installEventFilter(&gaps);
        QElapsedTimer clock;
        clock.start();
        gaps.Start();
        window.开始获取_按钮->click();
        loop.exec();
        state.SetIterationTime(static_cast<double>(clock.nsecsElapsed()) / 1e9);
        qApp->removeEventFilter(&gaps);
        heartbeat.stop();
        QObject::disconnect(ended);
        longestGap = std::max(longestGap, gaps.LongestWallNanoseconds());
        if (gaps.LongestCpuNanoseconds() > longestCpuGap) {
            longestCpuGap = gaps.LongestCpuNanoseconds();
            longestCpuEvent = gaps.LongestCpuEvent();
        }
        if (window.长尾词列表_编辑框->LineCount() != static_cast<std::size_t>(words)) {
            state.SkipWithError("the result list does not hold every word");
        }
    }
    state.counters["words"] = words;
    state.counters["longest_gui_gap_ms"] = static_cast<double>(longestGap) / 1e6;
    state.counters["longest_gui_cpu_gap_ms"] = static_cast<double>(longestCpuGap) / 1e6;
    state.counters["its_event_type"] = longestCpuEvent;
}
BENCHMARK(BM_ResultListJobThroughTheWindow)
    ->Arg(100'000)
    ->Arg(200'000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(3);

} // namespace
} // namespace morvane::ui

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    morvane::ui::MarkGuiThread();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
