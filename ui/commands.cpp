#include "ui/commands.h"

#include "mining/cancel_token.h"
#include "ui/control_text.h"
#include "ui/fatal_error.h"
#include "ui/main_window.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <fstream>

namespace morvane::ui {
namespace {

// Creates path empty: an existing file is cut to nothing, a missing one is made. A file that cannot be had is
// left as it is; the job then appends to it if it can open it later, or loses its words silently.
void CreateEmptyFile(const QString& path) {
    std::ofstream file(QFile::encodeName(path).toStdString(), std::ios::binary | std::ios::trunc);
}

} // namespace

Commands::Commands(MainWindow& window, ProgramState& state, RecommendationService service,
                   std::chrono::milliseconds pause)
    : m_window(window), m_state(state), m_controls(window),
      m_worker(m_controls, state.output, std::move(service), pause) {
    connect(window.开始获取_按钮, &QPushButton::clicked, this, &Commands::Start);
    connect(window.停止_按钮, &QPushButton::clicked, this, &Commands::Stop);
    connect(window.选择框1, &QCheckBox::clicked, this, &Commands::ChooseOutput);
    connect(window.清空_按钮, &QPushButton::clicked, this, &Commands::ClearSeeds);
    connect(window.导入到左边_按钮, &QPushButton::clicked, this, &Commands::ImportResults);
    connect(window.复制结果_按钮, &QPushButton::clicked, this, &Commands::CopyResults);
}

Commands::~Commands() {
    EndMiningJob();
}

void Commands::Start() {
    if (m_state.output.OutputMode() == OutputTarget::kOutputFile) {
        SaveFileDialog& dialog = *m_window.通用对话框1;
        dialog.setNameFilter(QString::fromUtf8(kTextFileFilter));
        dialog.setDirectory(m_state.programFolder);
        dialog.setDefaultSuffix(QStringLiteral("txt"));
        // From the second Start on the dialog opens with the file chosen last.
        const std::string previous = m_state.output.OutputFilePath();
        if (!previous.empty()) {
            dialog.selectFile(QFile::decodeName(QByteArray::fromStdString(previous)));
        }
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
            m_window.SetStatusText(QString::fromUtf8(kStatusChooseFile));
            return;
        }
        const QString chosen = dialog.selectedFiles().constFirst();
        m_state.output.SetOutputFilePath(QFile::encodeName(chosen).toStdString());
        CreateEmptyFile(chosen);
        // Stays disabled for the rest of the run; later jobs in result-list output still fill it.
        m_window.长尾词列表_编辑框->setEnabled(false);
    }
    m_window.SetResultText({});
    m_window.开始获取_按钮->setEnabled(false);
    // A thread that cannot be started leaves Start disabled; only Stop brings the window back to idle.
    m_worker.Start();
    m_window.SetStatusText(ToControlText(MiningStatusText(0, 1))); // 正在挖(0%)...
}

void Commands::Stop() {
    EndMiningJob();
    m_window.开始获取_按钮->setEnabled(true);
    m_window.SetStatusText(ToControlText(kStatusStopped));
}

void Commands::ChooseOutput() {
    m_state.output.SetOutputMode(m_window.ReadOutputToFile() ? OutputTarget::kOutputFile : OutputTarget::kResultList);
}

void Commands::ClearSeeds() {
    m_window.母词列表_编辑框->SetText({});
}

void Commands::ImportResults() {
    m_window.母词列表_编辑框->SetText(m_window.长尾词列表_编辑框->Text());
}

void Commands::CopyResults() {
    if (QClipboard* clipboard = QGuiApplication::clipboard(); clipboard != nullptr) {
        // Plain text; Qt gives it the platform's line ends (CR LF on Windows).
        clipboard->setText(m_window.长尾词列表_编辑框->Text());
    }
    m_window.SetStatusText(QString::fromUtf8(kStatusCopied));
}

void Commands::EndMiningJob() {
    m_worker.EndMiningJob();
    // A job that ran out of memory has handed its fatal error over and waited for the end of the job.
    ShowPendingFatalError();
}

} // namespace morvane::ui
