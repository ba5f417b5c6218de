// Start and Stop through the window at random moments, against a service that answers after random delays, goes
// silent or drips its replies: no cycle may hang, and after each Stop nothing of the stopped job may show.
// MORVANE_SOAK_CYCLES sets the number of cycles (a few hundred by default; the full soak runs a thousand).
#include "tests/support/temp_dir.h"
#include "tests/ui/window_fixture.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <random>
#include <thread>

namespace morvane::ui {
namespace {

using morvane::test::QueryValue;
using morvane::test::ReadFileBytes;
using morvane::test::RecordedRequest;
using morvane::test::ScriptedReply;
using morvane::test::TempDir;
using morvane::test::WordsReply;

int SoakCycles() {
    const char* cycles = std::getenv("MORVANE_SOAK_CYCLES"); // NOLINT(concurrency-mt-unsafe): read before threads
    return cycles != nullptr ? std::max(1, std::atoi(cycles)) : 200;
}

// True when text is empty or ends with a line break: whole lines only.
bool WholeLines(std::string_view text, std::string_view lineBreak) {
    return text.empty() || text.ends_with(lineBreak);
}

TEST(SoakTest, startAndStopAtRandomMomentsLeaveNothingOfTheStoppedJob) {
    // Declared before the window and its service: the service's threads read them until the very end.
    std::atomic<int> replyKind{0};
    std::atomic<int> delayMs{0};
    test::WindowFixture fixture(std::chrono::milliseconds(1));
    MainWindow& window = fixture.Window();
    TempDir dir;
    const auto file = dir / "words.txt";

    std::mt19937 random(20261211); // fixed seed: a failure can be replayed
    fixture.server.SetHandler([&](const RecordedRequest& request) {
        // The service's own slowness, on its connection thread.
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs.load()));
        const std::string seed = QueryValue(request, "word");
        ScriptedReply reply = WordsReply({seed + "1", seed + "2", seed + "3"});
        switch (replyKind.load()) {
        case 1:
            return ScriptedReply{.kind = ScriptedReply::Kind::Silent};
        case 2:
            reply.kind = ScriptedReply::Kind::Drip;
            reply.dripInterval = std::chrono::milliseconds(0);
            return reply;
        default:
            return reply;
        }
    });

    const int cycles = SoakCycles();
    for (int cycle = 0; cycle < cycles; ++cycle) {
        const int kind = static_cast<int>(random() % 4 == 0 ? 1 : random() % 3 == 0 ? 2 : 0);
        replyKind.store(kind);
        delayMs.store(static_cast<int>(random() % 15));
        QString seeds;
        const int lines = 1 + static_cast<int>(random() % 5);
        for (int i = 0; i < lines; ++i) {
            seeds += random() % 6 == 0 ? QString() : QStringLiteral("s%1").arg(i);
            seeds += QLatin1Char('\n');
        }
        window.母词列表_编辑框->SetText(seeds);
        const bool toFile = random() % 5 == 0;
        if (window.选择框1->isChecked() != toFile) {
            window.选择框1->click();
        }
        if (toFile) {
            test::AnswerNextDialog("QFileDialog", [&](QWidget& dialog) {
                if (std::filesystem::exists(file)) {
                    test::AnswerNextDialog("QMessageBox",
                                           [](QWidget& box) { test::ClickMessageBoxButton(box, QMessageBox::Yes); });
                }
                test::ChooseFileInDialog(dialog, QString::fromStdString(file.string()));
            });
        }
        const std::size_t requestsBefore = fixture.server.Requests().size();
        const qsizetype statusesBefore = fixture.StatusTexts().size();

        window.开始获取_按钮->click();
        ASSERT_FALSE(window.开始获取_按钮->isEnabled()) << "cycle " << cycle;
        // The moment to stop: at once, once the first request is in, or after some of the job's own status texts
        // (a silent service gives none, so there only the first two).
        const int moment = static_cast<int>(random() % (kind == 1 ? 2 : 3 + lines));
        if (moment == 1) {
            // Seeds that are all empty lines ask nothing: the job's end is then the moment.
            ASSERT_TRUE(test::WaitUntil([&] {
                return fixture.server.Requests().size() > requestsBefore || window.开始获取_按钮->isEnabled();
            })) << "cycle "
                << cycle;
        } else if (moment >= 2) {
            const qsizetype wanted = statusesBefore + 1 + (moment - 2);
            ASSERT_TRUE(test::WaitUntil([&] {
                return fixture.StatusTexts().size() >= wanted || window.开始获取_按钮->isEnabled();
            })) << "cycle "
                << cycle;
        }
        window.停止_按钮->click();
        const qsizetype statusesAtStop = fixture.StatusTexts().size();
        fixture.server.DropOpenConnections();
        test::HandlePendingEvents();

        ASSERT_EQ(fixture.StatusTexts().size(), statusesAtStop) << "a status text came after Stop, cycle " << cycle;
        ASSERT_EQ(fixture.StatusTexts().constLast(), test::kStopped) << "cycle " << cycle;
        ASSERT_TRUE(window.开始获取_按钮->isEnabled()) << "cycle " << cycle;
        ASSERT_TRUE(WholeLines(window.ReadResultText(), "\r\n")) << "cycle " << cycle;
        ASSERT_TRUE(WholeLines(ReadFileBytes(file), "\r\n")) << "cycle " << cycle;
    }
}

} // namespace
} // namespace morvane::ui
