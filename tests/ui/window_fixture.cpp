#include "tests/ui/window_fixture.h"

#include "ui/program.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>

namespace morvane::ui::test {

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    QElapsedTimer clock;
    clock.start();
    // Wakes the loop now and then for a condition that another thread changes without posting an event.
    QTimer wake;
    wake.start(10);
    while (!done()) {
        if (clock.elapsed() > timeout.count()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void HandlePendingEvents() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

WindowFixture::WindowFixture(std::chrono::milliseconds pause) {
    window = std::make_unique<MainWindow>();
    commands = std::make_unique<Commands>(*window, state, RecommendationService(server.BaseUrl()), pause);
    OnMainWindowCreated(state);
    QObject::connect(window.get(), &MainWindow::StatusTextSet, [this](const QString& text) { statusTexts << text; });
    window->show();
}

WindowFixture::~WindowFixture() {
    commands->EndMiningJob();
    HandlePendingEvents();
}

bool WindowFixture::WaitForJobEnd() {
    return WaitUntil([this] { return window->开始获取_按钮->isEnabled(); });
}

void AnswerNextDialog(const char* className, std::function<void(QWidget& dialog)> answer) {
    // Looks for the dialog each time the event loop comes round; the dialog's own loop keeps it coming.
    auto* poll = new QTimer(qApp);
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, [poll, className, answer = std::move(answer)] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (dialog == nullptr || !dialog->isVisible() || !dialog->inherits(className)) {
            return;
        }
        poll->stop();
        poll->deleteLater();
        answer(*dialog);
    });
    poll->start();
}

void ClickMessageBoxButton(QWidget& box, int which) {
    if (auto* message = qobject_cast<QMessageBox*>(&box); message != nullptr) {
        if (QAbstractButton* button = message->button(static_cast<QMessageBox::StandardButton>(which))) {
            button->click();
        }
    }
}

void ChooseFileInDialog(QWidget& dialog, const QString& path) {
    auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (name != nullptr) {
        name->setText(path);
    }
    auto* buttons = dialog.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    if (buttons != nullptr) {
        if (QAbstractButton* save = buttons->button(QDialogButtonBox::Save); save != nullptr) {
            save->click();
            return;
        }
        if (QAbstractButton* open = buttons->button(QDialogButtonBox::Open); open != nullptr) {
            open->click();
        }
    }
}

} // namespace morvane::ui::test
