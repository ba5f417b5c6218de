#pragma once

#include "mining/text.h"

#include <atomic>
#include <mutex>
#include <string>

namespace morvane {

// Where a job's words go, shared by the whole program: the output commands write it, the job reads it afresh
// every time it emits words, so a change during a job takes effect from the next seed on.
class OutputTarget {
public:
    // No mode yet; the window sets 1 when it is created.
    static constexpr int kNoMode = 0;
    // Words go to the result box.
    static constexpr int kResultList = 1;
    // Words are appended to the file named by OutputFilePath.
    static constexpr int kOutputFile = 2;

    int OutputMode() const { return m_outputMode.load(); }
    void SetOutputMode(int mode) { m_outputMode.store(mode); }

    // The output file's path as the file system spells it (native bytes, not GBK).
    std::string OutputFilePath() const {
        std::lock_guard lock(m_pathMutex);
        return m_outputFilePath;
    }
    void SetOutputFilePath(std::string path) {
        std::lock_guard lock(m_pathMutex);
        m_outputFilePath = std::move(path);
    }

private:
    std::atomic<int> m_outputMode{kNoMode};
    mutable std::mutex m_pathMutex;
    std::string m_outputFilePath;
};

} // namespace morvane
