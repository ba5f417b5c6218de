#pragma once

#include "mining/output_target.h"

#include <QString>

namespace morvane::ui {

// The program-wide values: where the words go (OutputMode, OutputFilePath) and the folder of the program file
// (ProgramFolder), which the save-file dialog opens in.
struct ProgramState {
    OutputTarget output;
    QString programFolder;
};

} // namespace morvane::ui
