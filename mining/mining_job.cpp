#include "mining/mining_job.h"

#include "mining/file_append.h"

#include <new>
#include <string>
#include <system_error>

namespace morvane {
Text MiningStatusText(std::size_t counter, std::size_t total) {
    const double percent = static_cast<double>(counter) / static_cast<double>(total) * 100.0;
    Text text(kStatusMiningPrefix);
    text += FormatPercent(percent);
    text += kStatusMiningSuffix;
    return text;
}

void EmitWords(const WordList& words, JobContext& context) {
    switch (context.output.OutputMode()) {
    case OutputTarget::kResultList:
        for (const Text& word : words) {
            if (context.cancel.IsCancelled()) {
                return;
            }
            Text line = word;
            line += kLineBreak;
            context.controls.AppendResultText(line);
        }
        break;
    case OutputTarget::kOutputFile: {
        if (context.cancel.IsCancelled()) {
            return;
        }
        std::string block;
        for (const Text& word : words) {
            block += word;
            block += kLineBreak;
        }
        // The file is opened once per seed even when the seed brought nothing, and never held open between
        // seeds, so the user may move or delete it while the job runs.
        AppendToExistingFile(context.output.OutputFilePath(), block);
        break;
    }
    default:
        break;
    }
}

bool MiningJob(JobContext& context) {
    JobControls& controls = context.controls;
    CancelToken& cancel = context.cancel;

    const WordList seeds = SplitLines(controls.ReadSeedText());
    if (cancel.IsCancelled()) {
        return false;
    }
    const int position = controls.ReadRegionSelection();
    if (cancel.IsCancelled()) {
        return false;
    }
    const Text areaIdText = std::to_string(controls.ReadAreaId(position));

    std::size_t counter = 0;
    for (const Text& seed : seeds) {
        if (cancel.IsCancelled()) {
            return false;
        }
        WordList words;
        if (!seed.empty()) {
            QueryReport report;
            words = context.service.FetchRecommendations(seed, areaIdText, &cancel, &report);
            if (cancel.IsCancelled()) {
                return false;
            }
            controls.SeedQueried(seed, report);
            EmitWords(words, context);
        }
        ++counter;
        if (cancel.IsCancelled()) {
            return false;
        }
        controls.SeedDone(SeedProgress{.index = counter - 1, .total = seeds.size(), .seed = seed, .words = words});
        if (cancel.IsCancelled()) {
            return false;
        }
        controls.SetStatusText(MiningStatusText(counter, seeds.size()));
        if (cancel.IsCancelled()) {
            return false;
        }
        const std::size_t resultLines = controls.CountResultLines();
        if (cancel.IsCancelled()) {
            return false;
        }
        controls.SetKeywordTotal(std::to_string(resultLines));
        if (!cancel.Sleep(context.pause)) {
            return false;
        }
    }
    if (cancel.IsCancelled()) {
        return false;
    }
    controls.SetStatusText(Text(kStatusFinished));
    if (cancel.IsCancelled()) {
        return false;
    }
    controls.EnableStart();
    return true;
}

MiningWorker::MiningWorker(JobControls& controls, const OutputTarget& output, RecommendationService service,
                           std::chrono::milliseconds pause)
    : m_controls(controls), m_output(output), m_service(std::move(service)), m_pause(pause) {}

MiningWorker::~MiningWorker() {
    EndMiningJob();
}

bool MiningWorker::Start() {
    EndMiningJob();
    auto cancel = std::make_shared<CancelToken>();
    {
        std::lock_guard lock(m_tokenMutex);
        m_cancel = cancel;
    }
    m_completed = false;
    m_controls.JobStarting(cancel);
    try {
        m_thread = std::thread([this, cancel] {
            JobContext context{m_controls, m_output, m_service, m_pause, *cancel};
            // Memory running out must not end the process from inside the job with std::terminate: the job is
            // unwound, so it leaves no lock held and no file open, and the front end decides what follows.
            try {
                m_completed = MiningJob(context);
            } catch (const std::bad_alloc&) {
                m_controls.AllocationFailed();
            }
        });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void MiningWorker::EndMiningJob() {
    RequestEnd();
    Join();
}

void MiningWorker::RequestEnd() {
    std::lock_guard lock(m_tokenMutex);
    if (m_cancel) {
        m_cancel->Cancel();
    }
}

bool MiningWorker::Wait() {
    Join();
    return m_completed;
}

void MiningWorker::Join() {
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

} // namespace morvane
