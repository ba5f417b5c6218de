// The whole job against an output that fails: the window's file output, which opens the file afresh for every
// seed, broken between two seeds; and morvane-mine's output, which is opened once, unusable from the start or
// filling up mid-line. The job ends, and what reaches the file is whole lines.
#include "cli/run_mine.h"
#include "tests/faults/fault_fixture.h"
#include "tests/support/case_name.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/resource.h>

namespace morvane {
namespace {

using test::JobFaultTest;
namespace fs = std::filesystem;

// While it lives, SIGXFSZ is ignored, so that a write past the file-size limit fails with EFBIG instead of
// ending the process; the limit in force when it was made is restored at its end. The limit stands for a disk
// that fills up in the middle of a line, which /dev/full (full before the first byte) cannot show.
class FileSizeLimit {
public:
    FileSizeLimit() : m_oldHandler(std::signal(SIGXFSZ, SIG_IGN)) { getrlimit(RLIMIT_FSIZE, &m_old); }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    // Lets the process write files up to bytes long, from any thread.
    static void Set(std::uintmax_t bytes) {
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int);
};

// What happens to the output file while the second seed's request is open, after the first seed's lines went
// into it.
enum class Breakage {
    DeleteFile,
    MakeReadOnly,
    RemoveFolder,
    FillDiskMidLine,     // the disk fills three bytes into the next line
    FullDiskFromTheStart // the output is /dev/full
};

void Break(Breakage breakage, const fs::path& file) {
    switch (breakage) {
    case Breakage::DeleteFile:
        fs::remove(file);
        break;
    case Breakage::MakeReadOnly:
        fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
        break;
    case Breakage::RemoveFolder:
        fs::remove_all(file.parent_path());
        break;
    case Breakage::FillDiskMidLine:
        FileSizeLimit::Set(fs::file_size(file) + 3);
        break;
    case Breakage::FullDiskFromTheStart:
        break;
    }
}

struct WindowOutputFault {
    const char* name;
    Breakage breakage;
    bool asOrdinaryUser; // the job runs without the permission override that root has

    friend void PrintTo(const WindowOutputFault& c, std::ostream* out) { *out << c.name; }
};

class WindowOutputFaultTest : public JobFaultTest, public testing::WithParamInterface<WindowOutputFault> {};

// The window has no place for a message: the job goes on to its end, and the words that cannot be written are
// lost, never half a line of them.
TEST_P(WindowOutputFaultTest, jobEndsAndTheFileHoldsWholeLinesOnly) {
    const WindowOutputFault& c = GetParam();
    const fs::path folder = dir / "out";
    fs::create_directory(folder);
    const fs::path file = folder / "words.txt";
    test::WriteFileBytes(file, "");
    output.SetOutputMode(OutputTarget::kOutputFile);
    output.SetOutputFilePath(c.breakage == Breakage::FullDiskFromTheStart ? "/dev/full" : file.string());
    OnRequestFor("two", [&] { Break(c.breakage, file); });
    const FileSizeLimit limit;

    std::optional<test::WithoutPermissionOverride> ordinaryUser;
    if (c.asOrdinaryUser) {
        ordinaryUser.emplace();
    }
    // Root may write a read-only file; the job then keeps writing to it, as root's shell would.
    const bool permissionsHold = !test::CanWriteReadOnlyFiles(dir.Path());
    EXPECT_TRUE(permissionsHold || !c.asOrdinaryUser) << "without CAP_DAC_OVERRIDE a read-only file stays so";
    const test::WindowResult result = RunWindowJob("one\r\ntwo\r\nthree");
    ordinaryUser.reset();

    EXPECT_TRUE(result.completed);
    ASSERT_FALSE(result.statusTexts.empty());
    EXPECT_EQ(result.statusTexts.back(), kStatusFinished);
    EXPECT_EQ(result.startEnabled, 1);
    EXPECT_EQ(result.resultText, "");
    switch (c.breakage) {
    case Breakage::DeleteFile:
        EXPECT_FALSE(fs::exists(file)) << "the job made the deleted file anew";
        break;
    case Breakage::RemoveFolder:
        EXPECT_FALSE(fs::exists(folder)) << "the job made the removed folder anew";
        break;
    case Breakage::MakeReadOnly:
        EXPECT_EQ(test::ReadFileBytes(file),
                  WordLines(permissionsHold ? std::vector<std::string>{"one"}
                                            : std::vector<std::string>{"one", "two", "three"},
                            "\r\n"));
        break;
    case Breakage::FillDiskMidLine:
        EXPECT_EQ(test::ReadFileBytes(file), WordLines({"one"}, "\r\n"));
        break;
    case Breakage::FullDiskFromTheStart:
        EXPECT_EQ(test::ReadFileBytes(file), "");
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, WindowOutputFaultTest,
                         testing::Values(WindowOutputFault{"fileDeleted", Breakage::DeleteFile, false},
                                         WindowOutputFault{"madeReadOnly", Breakage::MakeReadOnly, false},
                                         WindowOutputFault{"madeReadOnlyForAnOrdinaryUser", Breakage::MakeReadOnly,
                                                           true},
                                         WindowOutputFault{"folderRemoved", Breakage::RemoveFolder, false},
                                         WindowOutputFault{"diskFillsMidLine", Breakage::FillDiskMidLine, false},
                                         WindowOutputFault{"fullDisk", Breakage::FullDiskFromTheStart, false}),
                         test::CaseName());

// morvane-mine opens its output once, before the first request, and keeps it open: a file deleted, made
// read-only or moved away with its folder after that goes on taking the words, as with a shell's redirection.
// What it cannot open, and a disk that fills, end the run with a message.
enum class MineOutput {
    DevFull,
    FillsMidLine,  // the file fills three bytes into the second seed's first line
    ReadOnlyFile,  // the file exists with mode 0444 before the run
    FolderMissing, // the file's folder does not exist
};

struct MineOutputFault {
    const char* name;
    MineOutput kind;
    bool asOrdinaryUser;

    friend void PrintTo(const MineOutputFault& c, std::ostream* out) { *out << c.name; }
};

class MineOutputFaultTest : public JobFaultTest, public testing::WithParamInterface<MineOutputFault> {};

TEST_P(MineOutputFaultTest, runEndsWithAMessageAndWholeLinesOnly) {
    const MineOutputFault& c = GetParam();
    const fs::path file = dir / "words.txt";
    std::string outputArg = file.string();
    const FileSizeLimit limit;
    switch (c.kind) {
    case MineOutput::DevFull:
        outputArg = "/dev/full";
        break;
    case MineOutput::FillsMidLine:
        OnRequestFor("two", [&] { FileSizeLimit::Set(fs::file_size(file) + 3); });
        break;
    case MineOutput::ReadOnlyFile:
        test::WriteFileBytes(file, "old line\n");
        fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
        break;
    case MineOutput::FolderMissing:
        outputArg = (dir / "missing" / "words.txt").string();
        break;
    }

    std::optional<test::WithoutPermissionOverride> ordinaryUser;
    if (c.asOrdinaryUser) {
        ordinaryUser.emplace();
    }
    const bool permissionsHold = !test::CanWriteReadOnlyFiles(dir.Path());
    EXPECT_TRUE(permissionsHold || !c.asOrdinaryUser) << "without CAP_DAC_OVERRIDE a read-only file stays so";
    const test::MineResult result = RunMine({"--quiet", "--output", outputArg}, "one\ntwo\nthree\n");
    ordinaryUser.reset();

    EXPECT_EQ(result.out, "");
    switch (c.kind) {
    case MineOutput::DevFull:
        EXPECT_EQ(result.status, kExitFailure);
        EXPECT_EQ(result.err, "morvane-mine: cannot write to /dev/full: No space left on device\n");
        EXPECT_EQ(server->Requests().size(), 1U);
        break;
    case MineOutput::FillsMidLine:
        EXPECT_EQ(result.status, kExitFailure);
        EXPECT_EQ(result.err, "morvane-mine: cannot write to " + outputArg + ": File too large\n");
        EXPECT_EQ(test::ReadFileBytes(file), WordLines({"one"}, "\n"));
        EXPECT_EQ(server->Requests().size(), 2U);
        break;
    case MineOutput::ReadOnlyFile:
        if (permissionsHold) {
            EXPECT_EQ(result.status, kExitFailure);
            EXPECT_EQ(result.err, "morvane-mine: cannot create " + outputArg + ": Permission denied\n");
            EXPECT_EQ(test::ReadFileBytes(file), "old line\n");
            EXPECT_TRUE(server->Requests().empty());
        } else {
            // Root empties the file and writes it, as root's shell would.
            EXPECT_EQ(result.status, kExitSuccess);
            EXPECT_EQ(test::ReadFileBytes(file), WordLines({"one", "two", "three"}, "\n"));
        }
        break;
    case MineOutput::FolderMissing:
        EXPECT_EQ(result.status, kExitFailure);
        EXPECT_EQ(result.err, "morvane-mine: cannot create " + outputArg + ": No such file or directory\n");
        EXPECT_TRUE(server->Requests().empty());
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, MineOutputFaultTest,
                         testing::Values(MineOutputFault{"fullDisk", MineOutput::DevFull, false},
                                         MineOutputFault{"diskFillsMidLine", MineOutput::FillsMidLine, false},
                                         MineOutputFault{"readOnlyFile", MineOutput::ReadOnlyFile, false},
                                         MineOutputFault{"readOnlyFileForAnOrdinaryUser", MineOutput::ReadOnlyFile,
                                                         true},
                                         MineOutputFault{"folderMissing", MineOutput::FolderMissing, false}),
                         test::CaseName());

} // namespace
} // namespace morvane
