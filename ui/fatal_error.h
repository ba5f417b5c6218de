#pragma once

#include "mining/text.h"

#include <cstddef>

namespace morvane::ui {

// The text of the fatal-error box (GBK, CR LF): "运行时出错!" and a blank line; then, for a non-zero code,
// "错误代码：" with the code and a blank line; then, for a non-empty message, "错误信息：" with the message and a
// line break.
Text FatalErrorText(const Text& message, int code);

// The message for n bytes of memory that could not be had: "分配 n 字节内存失败!" (GBK).
Text AllocationFailureMessage(std::size_t bytes);

// Shows the fatal-error box (title "错误", the error icon, one OK button) and, once the user has pressed OK,
// ends the process with exit status -1 without running the exit routine. On the GUI thread it shows the box at
// once; on any other thread it hands the box to the GUI thread and waits there.
[[noreturn]] void ReportFatalError(const Text& message, int code);

// For a worker that must not wait for the GUI thread (which may be about to wait for it): hands the fatal error
// to the GUI thread, which shows it at its next event or in ShowPendingFatalError, and returns.
void HandOverFatalError(const Text& message, int code);

// On the GUI thread, once it has joined a worker: shows a fatal error the worker handed over, if there is one,
// and then does not return.
void ShowPendingFatalError();

// Marks the calling thread as the GUI thread, for the threads that report a fatal error to tell where they are.
void MarkGuiThread();

// True on the thread MarkGuiThread was called on.
bool OnGuiThread();

} // namespace morvane::ui
