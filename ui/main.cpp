// morvane: the window program that mines long-tail keywords.
#include "ui/program.h"

int main(int argc, char** argv) {
    return morvane::ui::RunProgram(argc, argv);
}
