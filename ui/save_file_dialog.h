#pragma once

#include <QFileDialog>

namespace morvane::ui {

// The save-file dialog: one file, kind save, the default title; it asks before replacing a file that exists and
// refuses a file in a folder that does not exist, saying so and staying open. A file that does not exist yet
// may be chosen.
class SaveFileDialog : public QFileDialog {
public:
    explicit SaveFileDialog(QWidget* parent = nullptr);

    void accept() override;
};

} // namespace morvane::ui
