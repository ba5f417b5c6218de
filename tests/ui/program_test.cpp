#include "tests/ui/window_fixture.h"
#include "ui/program.h"
#include "ui/themed_style.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <vector>

namespace morvane::ui {
namespace {

TEST(ProgramTest, programFolderIsThePathUpToTheLastSeparator) {
    struct Case {
        const char* file;
        const char* folder;
    };
    const std::vector<Case> cases{
        {"/opt/morvane/bin/morvane", "/opt/morvane/bin"},
        {"/morvane", ""}, // at the root: no separator at the end, so nothing is left
        {"/a b/程序/morvane", "/a b/程序"},
        {"morvane", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ProgramFolderOf(QString::fromUtf8(c.file)), QString::fromUtf8(c.folder)) << c.file;
    }
}

TEST(ProgramTest, createdHandlerChoosesResultListOutputAndTheThemedStyle) {
    test::WindowFixture fixture; // the created handler has run
    EXPECT_EQ(fixture.state.output.OutputMode(), OutputTarget::kResultList);
    EXPECT_FALSE(fixture.Window().选择框1->isChecked());
    EXPECT_NE(dynamic_cast<ThemedStyle*>(QApplication::style()), nullptr);
    // Controls made later on this thread take the style too.
    QWidget later;
    EXPECT_NE(dynamic_cast<ThemedStyle*>(later.style()), nullptr);
}

TEST(ProgramTest, exitRoutineReleasesTheOutputFilePath) {
    Program().output.SetOutputFilePath("/tmp/words.txt");
    OnProgramExit();
    EXPECT_TRUE(Program().output.OutputFilePath().empty());
}

} // namespace
} // namespace morvane::ui
