#pragma once

#include "ui/program_state.h"

#include <QString>

namespace morvane::ui {

// The program's values, for the whole run.
ProgramState& Program();

// The folder of the program file: its full path up to the last separator, that separator excluded
// ("/opt/morvane/bin/morvane" gives "/opt/morvane/bin", a program file at the root gives "").
QString ProgramFolderOf(const QString& programFile);

// The handler of the window's created event: result-list output, and the themed style on for the GUI thread.
void OnMainWindowCreated(ProgramState& state);

// The exit routine, run once at a normal end: releases the output file's path.
void OnProgramExit();

// The whole program: start-up, the window, the event loop and the shut-down. Takes nothing from the command
// line but the program's own name. Returns the exit status, 0 after a normal end.
int RunProgram(int argc, char** argv);

} // namespace morvane::ui
