#include "ui/fatal_error.h"

#include "ui/control_text.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace morvane::ui {
namespace {

std::atomic<std::thread::id> g_guiThread{};

struct PendingFatalError {
    std::mutex mutex;
    std::optional<std::pair<Text, int>> error;
};

PendingFatalError& Pending() {
    static PendingFatalError pending;
    return pending;
}

[[noreturn]] void ShowAndEnd(const Text& message, int code) {
    // One box only, whichever of the paths gets here first. Coming back here on the GUI thread means the box
    // itself could not get memory: the process ends without it. Another thread waits for the process to end.
    static std::atomic<bool> shown{false};
    if (shown.exchange(true)) {
        if (OnGuiThread()) {
            std::_Exit(-1);
        }
        for (;;) {
            std::this_thread::sleep_for(std::chrono::hours(1));
        }
    }
    QMessageBox box(QMessageBox::Critical, QStringLiteral("错误"), ToControlText(FatalErrorText(message, code)),
                    QMessageBox::Ok);
    box.exec();
    // Ends at once: the exit routine and every destructor are skipped, and a running job ends with the process.
    std::_Exit(-1);
}

} // namespace

Text FatalErrorText(const Text& message, int code) {
    Text text = "\xd4\xcb\xd0\xd0\xca\xb1\xb3\xf6\xb4\xed!\r\n\r\n"; // 运行时出错!
    if (code != 0) {
        text += "\xb4\xed\xce\xf3\xb4\xfa\xc2\xeb\xa3\xba"; // 错误代码：
        text += std::to_string(code);
        text += "\r\n\r\n";
    }
    if (!message.empty()) {
        text += "\xb4\xed\xce\xf3\xd0\xc5\xcf\xa2\xa3\xba"; // 错误信息：
        text += message;
        text += "\r\n";
    }
    return text;
}

Text AllocationFailureMessage(std::size_t bytes) {
    Text text = "\xb7\xd6\xc5\xe4 "; // 分配
    text += std::to_string(bytes);
    text += " \xd7\xd6\xbd\xda\xc4\xda\xb4\xe6\xca\xa7\xb0\xdc!"; // 字节内存失败!
    return text;
}

void ReportFatalError(const Text& message, int code) {
    if (OnGuiThread()) {
        ShowAndEnd(message, code);
    }
    HandOverFatalError(message, code);
    for (;;) {
        std::this_thread::sleep_for(std::chrono::hours(1));
    }
}

void HandOverFatalError(const Text& message, int code) {
    {
        PendingFatalError& pending = Pending();
        std::lock_guard lock(pending.mutex);
        if (!pending.error) {
            pending.error.emplace(message, code);
        }
    }
    if (QCoreApplication* app = QCoreApplication::instance(); app != nullptr) {
        QMetaObject::invokeMethod(
            app, [] { ShowPendingFatalError(); }, Qt::QueuedConnection);
    }
}

void ShowPendingFatalError() {
    std::optional<std::pair<Text, int>> error;
    {
        PendingFatalError& pending = Pending();
        std::lock_guard lock(pending.mutex);
        error = pending.error;
    }
    if (error) {
        ShowAndEnd(error->first, error->second);
    }
}

void MarkGuiThread() {
    g_guiThread.store(std::this_thread::get_id());
}

bool OnGuiThread() {
    return g_guiThread.load() == std::this_thread::get_id();
}

} // namespace morvane::ui
