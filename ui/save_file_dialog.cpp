#include "ui/save_file_dialog.h"

#include <QFileInfo>
#include <QMessageBox>

namespace morvane::ui {

SaveFileDialog::SaveFileDialog(QWidget* parent) : QFileDialog(parent) {
    setAcceptMode(QFileDialog::AcceptSave);
    setFileMode(QFileDialog::AnyFile);
    // Qt's own dialog on every platform: it takes the program's themed style like every other control.
    setOption(QFileDialog::DontUseNativeDialog, true);
    setOption(QFileDialog::HideNameFilterDetails, true);
}

void SaveFileDialog::accept() {
    const QStringList files = selectedFiles();
    if (!files.isEmpty()) {
        const QFileInfo chosen(files.constFirst());
        if (!chosen.isDir() && !QFileInfo(chosen.absolutePath()).isDir()) {
            QMessageBox::warning(
                this, windowTitle(),
                QStringLiteral("%1\n路径不存在。\n请检查路径，然后重试。").arg(chosen.absoluteFilePath()));
            return;
        }
    }
    QFileDialog::accept();
}

} // namespace morvane::ui
