// morvane-recomd: a local keyword-recommendation service answering the same request as the real one.
#include "service/http_server.h"
#include "service/recommendation_api.h"
#include "service/service_options.h"
#include "service/word_index.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <pthread.h>
#include <string>
#include <string_view>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

void WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

void Say(const std::string& message) {
    WriteAll(STDERR_FILENO, "morvane-recomd: " + message + "\n");
}

// More connections than the default 1024 descriptors allow should not be refused.
void RaiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

} // namespace

int main(int argc, char** argv) {
    using namespace morvane;
    const std::vector<std::string_view> args(argv + std::min(argc, 1), argv + argc);
    const ServiceCommandLine commandLine = ParseServiceCommandLine(args);
    switch (commandLine.action) {
    case ServiceCommandLine::Action::UsageError:
        Say(commandLine.error + " (try --help)");
        return 2;
    case ServiceCommandLine::Action::Help:
        WriteAll(STDOUT_FILENO, ServiceUsage());
        return 0;
    case ServiceCommandLine::Action::Version:
        WriteAll(STDOUT_FILENO, ServiceVersion() + "\n");
        return 0;
    case ServiceCommandLine::Action::Run:
        break;
    }
    const ServiceOptions& options = commandLine.options;

    // The signals are taken by sigwait below; blocked before any thread starts, so every thread inherits the mask
    // and none is interrupted by them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    RaiseDescriptorLimit();

    const auto started = std::chrono::steady_clock::now();
    ServiceCorpus corpus = LoadServiceCorpus(options.corpusPath, std::string(kJiebaDictionaryPath));
    if (!corpus.load.error.empty()) {
        Say("cannot load the corpus: " + corpus.load.error);
        return 1;
    }
    if (!corpus.notice.empty()) {
        Say(corpus.notice);
    }
    const WordIndex index(std::move(corpus.load.words));

    HttpServerOptions serverOptions;
    serverOptions.host = options.listenHost;
    serverOptions.port = options.listenPort;
    serverOptions.threads = options.threads;
    std::mutex logMutex;
    if (!options.quiet) {
        serverOptions.log = [&logMutex](std::string_view lines) {
            const std::lock_guard lock(logMutex);
            WriteAll(STDERR_FILENO, lines);
        };
    }
    HttpServer server(serverOptions, RecommendationHandler(index, options.limit));
    if (const std::string error = server.Start(); !error.empty()) {
        Say(error);
        return 1;
    }
    const auto ready = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const std::string host =
        options.listenHost.find(':') == std::string::npos ? options.listenHost : "[" + options.listenHost + "]";
    std::array<char, 32> seconds{};
    std::snprintf(seconds.data(), seconds.size(), "%.2f", ready);
    Say("serving " + std::to_string(index.Size()) + " words from " + corpus.source + " on http://" + host + ":" +
        std::to_string(server.Port()) + " (ready in " + seconds.data() + " s, index " +
        std::to_string(index.MemoryBytes() >> 20U) + " MiB)");

    int signal = 0;
    while (sigwait(&stopSignals, &signal) != 0) {
    }
    Say(std::string("stopping on ") + (signal == SIGINT ? "SIGINT" : "SIGTERM"));
    server.Stop();
    return 0;
}
