#include "ui/program.h"

#include "mining/recommendations.h"
#include "ui/commands.h"
#include "ui/fatal_error.h"
#include "ui/main_window.h"
#include "ui/themed_style.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <array>
#include <csignal>
#include <cstdlib>

namespace morvane::ui {

namespace {

QIcon ProgramIcon() {
    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128, 256}) {
        icon.addFile(QStringLiteral(":/morvane/morvane-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

} // namespace

ProgramState& Program() {
    static ProgramState state;
    return state;
}

QString ProgramFolderOf(const QString& programFile) {
    const QString path = QDir::fromNativeSeparators(programFile);
    const qsizetype separator = path.lastIndexOf(QLatin1Char('/'));
    return separator < 0 ? QString() : QDir::toNativeSeparators(path.left(separator));
}

void OnMainWindowCreated(ProgramState& state) {
    state.output.SetOutputMode(OutputTarget::kResultList);
    QApplication::setStyle(new ThemedStyle);
}

void OnProgramExit() {
    Program().output.SetOutputFilePath({});
}

int RunProgram(int argc, char** argv) {
    // A file-size limit (ulimit -f) then fails the write with EFBIG, which the job's file output handles, instead of
    // ending the program.
    std::signal(SIGXFSZ, SIG_IGN);
    // Qt reads its own options from the command line; the program takes none, so Qt sees only the name.
    int qtArgc = argc > 0 ? 1 : 0;
    std::array<char*, 2> qtArgv{argc > 0 ? argv[0] : nullptr, nullptr};
    QApplication app(qtArgc, qtArgv.data());
    MarkGuiThread();
    QApplication::setWindowIcon(ProgramIcon());
    // Qt's own texts, the save-file dialog's among them, in the user's language where Qt has them.
    QTranslator qtTexts;
    if (qtTexts.load(QLocale::system(), QStringLiteral("qtbase"), QStringLiteral("_"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(&qtTexts);
    }

    ProgramState& state = Program();
    state.programFolder = ProgramFolderOf(QCoreApplication::applicationFilePath());
    QDir::setCurrent(state.programFolder.isEmpty() ? QDir::rootPath() : state.programFolder);
    state.output.SetOutputMode(OutputTarget::kNoMode);
    state.output.SetOutputFilePath({});
    std::atexit(OnProgramExit);

    {
        MainWindow window;
        Commands commands(window, state, RecommendationService(DefaultServiceBase()));
        OnMainWindowCreated(state);
        window.CentreOnScreen();
        window.show();
        QApplication::exec();
        // The window has closed and the loop has ended: a running job ends now, before anything it uses goes.
        commands.EndMiningJob();
    }
    return 0;
}

} // namespace morvane::ui
