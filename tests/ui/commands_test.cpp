#include "tests/support/temp_dir.h"
#include "tests/ui/window_fixture.h"
#include "ui/control_text.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QMessageBox>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>

namespace morvane::ui {
namespace {

using morvane::test::QueryValue;
using morvane::test::ReadFileBytes;
using morvane::test::RecordedRequest;
using morvane::test::ScriptedReply;
using morvane::test::TempDir;
using morvane::test::WordsReply;
using test::AnswerNextDialog;
using test::ChooseFileInDialog;
using test::HandlePendingEvents;
using test::WindowFixture;

using test::kChooseFile;
using test::kFinished;
using test::kMining0;
using test::kStopped;

// Answers each seed with the words "<seed>1" and "<seed>2".
ScriptedReply TwoWordsPerSeed(const RecordedRequest& request) {
    const std::string seed = QueryValue(request, "word");
    return WordsReply({seed + "1", seed + "2"});
}

class CommandsTest : public testing::Test {
protected:
    CommandsTest() { fixture.server.SetHandler(TwoWordsPerSeed); }

    void TypeSeeds(const char* utf8) { window.母词列表_编辑框->SetText(QString::fromUtf8(utf8)); }

    // The seeds the service was asked for, in order.
    std::vector<std::string> AskedSeeds() const {
        std::vector<std::string> seeds;
        for (const RecordedRequest& request : fixture.server.Requests()) {
            seeds.push_back(QueryValue(request, "word"));
        }
        return seeds;
    }

    // Switches to file output with a click on the check box, as the user does.
    void ChooseFileOutput(bool toFile) {
        if (window.选择框1->isChecked() != toFile) {
            window.选择框1->click();
        }
    }

    // Presses Start in file output and chooses path in the save-file dialog.
    void StartIntoFile(const std::filesystem::path& path) {
        ChooseFileOutput(true);
        AnswerNextDialog("QFileDialog", [path](QWidget& dialog) {
            ChooseFileInDialog(dialog, QString::fromStdString(path.string()));
        });
        window.开始获取_按钮->click();
    }

    // Waits for count requests while the window handles its events: the job's control operations need them.
    bool WaitForRequests(std::size_t count) {
        return test::WaitUntil([&] { return fixture.server.Requests().size() >= count; });
    }

    QString ResultBox() const { return window.长尾词列表_编辑框->Text(); }

    WindowFixture fixture;
    MainWindow& window = fixture.Window();
    TempDir dir;
};

TEST_F(CommandsTest, wholeJobInResultListOutput) {
    TypeSeeds("a\n\n手机");
    window.地区_组合框->setCurrentIndex(17);
    window.长尾词列表_编辑框->SetText(QStringLiteral("earlier results\n"));

    window.开始获取_按钮->click();
    EXPECT_FALSE(window.开始获取_按钮->isEnabled());
    EXPECT_TRUE(ResultBox().isEmpty());
    ASSERT_TRUE(fixture.WaitForJobEnd());

    EXPECT_EQ(fixture.StatusTexts(), (QStringList{kMining0, QStringLiteral("正在挖(33.33333333333%)..."),
                                                  QStringLiteral("正在挖(66.66666666667%)..."),
                                                  QStringLiteral("正在挖(100%)..."), kFinished}));
    EXPECT_EQ(ResultBox(), QStringLiteral("a1\na2\n手机1\n手机2\n"));
    EXPECT_EQ(window.ReadResultText(), "a1\r\na2\r\n\xca\xd6\xbb\xfa"
                                       "1\r\n\xca\xd6\xbb\xfa"
                                       "2\r\n");
    EXPECT_EQ(window.关键词总数_标签->text(), QStringLiteral("4"));
    EXPECT_EQ(AskedSeeds(), (std::vector<std::string>{"a", "手机"}));
    for (const RecordedRequest& request : fixture.server.Requests()) {
        EXPECT_EQ(QueryValue(request, "area_id"), "17");
    }
    EXPECT_TRUE(window.长尾词列表_编辑框->isEnabled());
}

TEST_F(CommandsTest, wholeJobInFileOutputWritesGbkLinesAndLeavesTheBoxEmpty) {
    TypeSeeds("a\n手机\n");
    const auto path = dir / "words.txt";

    StartIntoFile(path);
    ASSERT_TRUE(fixture.WaitForJobEnd());

    EXPECT_EQ(ReadFileBytes(path), "a1\r\na2\r\n\xca\xd6\xbb\xfa"
                                   "1\r\n\xca\xd6\xbb\xfa"
                                   "2\r\n");
    EXPECT_EQ(fixture.StatusTexts(),
              (QStringList{kMining0, QStringLiteral("正在挖(50%)..."), QStringLiteral("正在挖(100%)..."), kFinished}));
    EXPECT_TRUE(ResultBox().isEmpty());
    EXPECT_EQ(window.关键词总数_标签->text(), QStringLiteral("0"));
    EXPECT_FALSE(window.长尾词列表_编辑框->isEnabled());
}

TEST_F(CommandsTest, emptySeedBoxAsksNothingAndKeepsTheTotal) {
    window.SetKeywordTotal(QStringLiteral("7"));
    window.开始获取_按钮->click();
    ASSERT_TRUE(fixture.WaitForJobEnd());
    EXPECT_EQ(fixture.StatusTexts(), (QStringList{kMining0, kFinished}));
    EXPECT_TRUE(fixture.server.Requests().empty());
    EXPECT_EQ(window.关键词总数_标签->text(), QStringLiteral("7"));
}

TEST_F(CommandsTest, stopWhileTheServiceIsSilentEndsTheJobAtOnce) {
    fixture.server.AnswerAll(ScriptedReply{.kind = ScriptedReply::Kind::Silent});
    TypeSeeds("a\nb");
    window.开始获取_按钮->click();
    ASSERT_TRUE(WaitForRequests(1));

    window.停止_按钮->click();
    EXPECT_EQ(window.StatusText(), kStopped);
    EXPECT_TRUE(window.开始获取_按钮->isEnabled());

    // Whatever the job had queued has either run or been dropped by now; nothing of it may show.
    fixture.server.DropOpenConnections();
    HandlePendingEvents();
    EXPECT_EQ(fixture.StatusTexts(), (QStringList{kMining0, kStopped}));
    EXPECT_EQ(fixture.server.Requests().size(), 1U);
    EXPECT_TRUE(ResultBox().isEmpty());
}

TEST_F(CommandsTest, stopWithNoJobOnlySaysSo) {
    window.停止_按钮->click(); // before any Start
    EXPECT_EQ(window.StatusText(), kStopped);
    EXPECT_TRUE(window.开始获取_按钮->isEnabled());

    TypeSeeds("a");
    window.开始获取_按钮->click();
    ASSERT_TRUE(fixture.WaitForJobEnd());
    window.停止_按钮->click(); // after a job that ended by itself
    window.停止_按钮->click(); // twice
    HandlePendingEvents();

    EXPECT_EQ(fixture.StatusTexts(),
              (QStringList{kStopped, kMining0, QStringLiteral("正在挖(100%)..."), kFinished, kStopped, kStopped}));
    EXPECT_TRUE(window.开始获取_按钮->isEnabled());
    EXPECT_EQ(ResultBox(), QStringLiteral("a1\na2\n"));
}

TEST_F(CommandsTest, cancelledSaveDialogChangesNothingButTheStatus) {
    TypeSeeds("a");
    window.长尾词列表_编辑框->SetText(QStringLiteral("kept\n"));
    ChooseFileOutput(true);
    AnswerNextDialog("QFileDialog", [](QWidget& dialog) { qobject_cast<QDialog*>(&dialog)->reject(); });

    window.开始获取_按钮->click();

    EXPECT_EQ(fixture.StatusTexts(), QStringList{kChooseFile});
    EXPECT_EQ(ResultBox(), QStringLiteral("kept\n"));
    EXPECT_TRUE(window.开始获取_按钮->isEnabled());
    EXPECT_TRUE(window.长尾词列表_编辑框->isEnabled());
    EXPECT_TRUE(fixture.state.output.OutputFilePath().empty());
    HandlePendingEvents();
    EXPECT_TRUE(fixture.server.Requests().empty());
}

TEST_F(CommandsTest, startOntoAnExistingFileEmptiesItBeforeTheFirstRequest) {
    const auto path = dir / "words.txt";
    morvane::test::WriteFileBytes(path, "old line\r\n");
    // Shared with the server's threads, which may outlive this test's body.
    struct FirstRequest {
        std::mutex mutex;
        std::optional<std::string> file;
    };
    auto first = std::make_shared<FirstRequest>();
    fixture.server.SetHandler([first, path](const RecordedRequest& request) {
        {
            std::lock_guard lock(first->mutex);
            if (!first->file) {
                first->file = ReadFileBytes(path);
            }
        }
        return TwoWordsPerSeed(request);
    });
    TypeSeeds("a");
    AnswerNextDialog("QMessageBox", [](QWidget& box) { test::ClickMessageBoxButton(box, QMessageBox::Yes); });

    StartIntoFile(path);
    ASSERT_TRUE(fixture.WaitForJobEnd());

    std::lock_guard lock(first->mutex);
    EXPECT_EQ(first->file, std::optional<std::string>(""));
    EXPECT_EQ(ReadFileBytes(path), "a1\r\na2\r\n");
}

TEST_F(CommandsTest, laterJobInResultListOutputFillsTheDisabledBox) {
    TypeSeeds("a");
    StartIntoFile(dir / "words.txt");
    ASSERT_TRUE(fixture.WaitForJobEnd());

    ChooseFileOutput(false);
    TypeSeeds("b");
    window.开始获取_按钮->click();
    ASSERT_TRUE(fixture.WaitForJobEnd());

    EXPECT_FALSE(window.长尾词列表_编辑框->isEnabled());
    EXPECT_EQ(ResultBox(), QStringLiteral("b1\nb2\n"));
    EXPECT_EQ(window.关键词总数_标签->text(), QStringLiteral("2"));
    EXPECT_EQ(ReadFileBytes(dir / "words.txt"), "a1\r\na2\r\n");
}

TEST_F(CommandsTest, importedResultsAreTheNextJobsSeeds) {
    window.长尾词列表_编辑框->SetText(QStringLiteral("x\ny\n"));
    window.导入到左边_按钮->click();
    EXPECT_EQ(window.ReadSeedText(), "x\r\ny\r\n");
    EXPECT_EQ(ResultBox(), QStringLiteral("x\ny\n"));

    window.开始获取_按钮->click();
    ASSERT_TRUE(fixture.WaitForJobEnd());
    EXPECT_EQ(AskedSeeds(), (std::vector<std::string>{"x", "y"}));
}

TEST_F(CommandsTest, clearSeedsEmptiesTheSeedBoxOnly) {
    TypeSeeds("a\nb");
    window.长尾词列表_编辑框->SetText(QStringLiteral("x\n"));
    window.清空_按钮->click();
    EXPECT_TRUE(window.ReadSeedText().empty());
    EXPECT_EQ(ResultBox(), QStringLiteral("x\n"));
}

TEST_F(CommandsTest, copyResultsPutsTheTextOnTheClipboardEvenWhenEmpty) {
    QClipboard* clipboard = QApplication::clipboard();
    for (const char* results : {"", "a1\na2\n手机\n"}) {
        clipboard->setText(QStringLiteral("something else"));
        window.长尾词列表_编辑框->SetText(QString::fromUtf8(results));
        window.复制结果_按钮->click();
        EXPECT_EQ(clipboard->text(), QString::fromUtf8(results));
        EXPECT_EQ(window.StatusText(), QStringLiteral("复制成功！"));
    }
}

// The first seed's request waits until the test lets it go, so that the check box can change meanwhile. The gate
// is shared with the server's threads, which may outlive it.
class GatedService {
public:
    explicit GatedService(WindowFixture& fixture) {
        fixture.server.SetHandler([gate = m_gate](const RecordedRequest& request) {
            if (QueryValue(request, "word") == "a") {
                std::unique_lock lock(gate->mutex);
                gate->open.wait(lock, [&] { return gate->released; });
            }
            return TwoWordsPerSeed(request);
        });
    }
    ~GatedService() { Release(); }
    GatedService(const GatedService&) = delete;
    GatedService& operator=(const GatedService&) = delete;

    void Release() {
        std::lock_guard lock(m_gate->mutex);
        m_gate->released = true;
        m_gate->open.notify_all();
    }

private:
    struct Gate {
        std::mutex mutex;
        std::condition_variable open;
        bool released = false;
    };
    std::shared_ptr<Gate> m_gate = std::make_shared<Gate>();
};

TEST_F(CommandsTest, outputModeSwitchedDuringAJobTakesEffectForTheNextWords) {
    const auto path = dir / "words.txt";
    TypeSeeds("z");
    StartIntoFile(path); // the file of the last file-output job
    ASSERT_TRUE(fixture.WaitForJobEnd());

    ChooseFileOutput(false);
    TypeSeeds("a\nb");
    GatedService service(fixture);
    window.开始获取_按钮->click();
    ASSERT_TRUE(WaitForRequests(2)); // z, then a, now waiting
    ChooseFileOutput(true);          // no dialog while a job runs
    service.Release();
    ASSERT_TRUE(fixture.WaitForJobEnd());

    EXPECT_EQ(ReadFileBytes(path), "z1\r\nz2\r\na1\r\na2\r\nb1\r\nb2\r\n");
    EXPECT_TRUE(ResultBox().isEmpty());
}

TEST_F(CommandsTest, switchingToFileOutputWithNoFileEverChosenLosesTheWords) {
    TypeSeeds("a\nb");
    GatedService service(fixture);
    window.开始获取_按钮->click();
    ASSERT_TRUE(WaitForRequests(1));
    ChooseFileOutput(true);
    service.Release();
    ASSERT_TRUE(fixture.WaitForJobEnd());

    EXPECT_TRUE(ResultBox().isEmpty());
    EXPECT_EQ(fixture.StatusTexts().constLast(), kFinished);
}

TEST_F(CommandsTest, saveDialogOpensInTheProgramFolderThenOnTheLastFile) {
    fixture.state.programFolder = QString::fromStdString(dir.Path().string());
    TypeSeeds("a");
    ChooseFileOutput(true);
    QString firstFolder;
    QStringList filters;
    QString title;
    AnswerNextDialog("QFileDialog", [&](QWidget& widget) {
        auto& dialog = *qobject_cast<QFileDialog*>(&widget);
        firstFolder = dialog.directory().absolutePath();
        filters = dialog.nameFilters();
        title = dialog.windowTitle();
        ChooseFileInDialog(dialog, QStringLiteral("words")); // no extension: .txt is added
    });
    window.开始获取_按钮->click();
    ASSERT_TRUE(fixture.WaitForJobEnd());
    const auto chosen = dir / "words.txt";
    EXPECT_EQ(firstFolder, fixture.state.programFolder);
    EXPECT_EQ(filters, QStringList{QStringLiteral("文本文件（.txt） (*.txt)")});
    EXPECT_FALSE(title.isEmpty());
    EXPECT_EQ(fixture.state.output.OutputFilePath(), chosen.string());
    EXPECT_EQ(ReadFileBytes(chosen), "a1\r\na2\r\n");

    // The second time the dialog shows the last file; keeping it asks before replacing it.
    QString prefilled;
    bool asked = false;
    AnswerNextDialog("QFileDialog", [&](QWidget& widget) {
        auto& dialog = *qobject_cast<QFileDialog*>(&widget);
        prefilled = dialog.selectedFiles().value(0);
        AnswerNextDialog("QMessageBox", [&](QWidget& box) {
            asked = true;
            test::ClickMessageBoxButton(box, QMessageBox::Yes);
        });
        ChooseFileInDialog(dialog, prefilled);
    });
    window.开始获取_按钮->click();
    ASSERT_TRUE(fixture.WaitForJobEnd());
    EXPECT_EQ(prefilled, QString::fromStdString(chosen.string()));
    EXPECT_TRUE(asked);
}

TEST_F(CommandsTest, saveDialogRefusesAFileInAFolderThatDoesNotExist) {
    TypeSeeds("a");
    ChooseFileOutput(true);
    bool warned = false;
    bool stayedOpen = false;
    AnswerNextDialog("QFileDialog", [&](QWidget& widget) {
        auto& dialog = *qobject_cast<QFileDialog*>(&widget);
        AnswerNextDialog("QMessageBox", [&](QWidget& box) {
            warned = true;
            test::ClickMessageBoxButton(box, QMessageBox::Ok);
        });
        ChooseFileInDialog(dialog, QString::fromStdString((dir / "no such folder" / "words.txt").string()));
        stayedOpen = dialog.isVisible();
        dialog.reject();
    });
    window.开始获取_按钮->click();

    EXPECT_TRUE(warned);
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(window.StatusText(), kChooseFile);
    EXPECT_FALSE(std::filesystem::exists(dir / "no such folder"));
}

TEST_F(CommandsTest, closingTheWindowDuringAFileJobKeepsWholeLines) {
    const auto path = dir / "words.txt";
    auto asked = std::make_shared<std::atomic<int>>(0);
    fixture.server.SetHandler([asked](const RecordedRequest& request) {
        // The second seed's reply never comes: the job is waiting for it when the window closes.
        return asked->fetch_add(1) == 0 ? TwoWordsPerSeed(request) : ScriptedReply{.kind = ScriptedReply::Kind::Silent};
    });
    TypeSeeds("a\nb\nc");
    StartIntoFile(path);
    ASSERT_TRUE(WaitForRequests(2));

    window.close();
    fixture.commands->EndMiningJob(); // the shut-down's step once the loop has ended
    HandlePendingEvents();

    EXPECT_EQ(ReadFileBytes(path), "a1\r\na2\r\n");
    EXPECT_EQ(fixture.server.Requests().size(), 2U);
}

} // namespace
} // namespace morvane::ui
