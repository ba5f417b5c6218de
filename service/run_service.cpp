#include "service/run_service.h"

#include "common/write_all.h"
#include "service/error_text.h"
#include "service/http_server.h"
#include "service/log_writer.h"
#include "service/recommendation_api.h"
#include "service/service_options.h"
#include "service/word_index.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <poll.h>
#include <pthread.h>
#include <string>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <system_error>
#include <unistd.h>

namespace morvane {
namespace {

constexpr std::string_view kMessagePrefix = "morvane-recomd: ";

// For the messages of a run that never started serving: nothing waits on them.
void SayNow(const std::string& message) {
    WriteAll(STDERR_FILENO, std::string(kMessagePrefix) + message + "\n");
}

// More connections than the default 1024 descriptors allow should not be refused.
void RaiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

std::string StartedMessage(const ServiceOptions& options, const ServiceCorpus& corpus, const WordIndex& index,
                           const HttpServer& server, std::chrono::steady_clock::time_point started) {
    const auto ready = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const std::string host =
        options.listenHost.find(':') == std::string::npos ? options.listenHost : "[" + options.listenHost + "]";
    std::array<char, 32> seconds{};
    std::snprintf(seconds.data(), seconds.size(), "%.2f", ready);
    return "serving " + std::to_string(index.Size()) + " words from " + corpus.source + " on http://" + host + ":" +
           std::to_string(server.Port()) + " (ready in " + seconds.data() + " s, index " +
           std::to_string(index.MemoryBytes() >> 20U) + " MiB, at most " + std::to_string(server.MaxConnections()) +
           " connections)";
}

// Serves until a stop signal (status 0) or a failure of the server (status 1).
int ServeUntilStopped(const ServiceOptions& options, const ServiceCorpus& corpus, const WordIndex& index,
                      LogWriter& log, std::chrono::steady_clock::time_point started, const sigset_t& stopSignals) {
    const int signalFd = signalfd(-1, &stopSignals, SFD_CLOEXEC);
    const int failureFd = eventfd(0, EFD_CLOEXEC);
    const auto closeBoth = [&] {
        for (const int fd : {signalFd, failureFd}) {
            if (fd >= 0) {
                close(fd);
            }
        }
    };
    if (signalFd < 0 || failureFd < 0) {
        log.Message("cannot wait for signals: " + ErrorText(errno));
        closeBoth();
        return 1;
    }

    HttpServerOptions serverOptions;
    serverOptions.host = options.listenHost;
    serverOptions.port = options.listenPort;
    serverOptions.threads = options.threads;
    serverOptions.maxConnections = options.maxConnections;
    serverOptions.headerTimeout = options.headerTimeout;
    serverOptions.idleTimeout = options.idleTimeout;
    if (!options.quiet) {
        serverOptions.log = [&log](std::string_view lines) { log.Append(lines); };
    }
    serverOptions.onFailure = [&log, failureFd](std::string_view what) {
        log.Message("the server cannot go on: " + std::string(what));
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t ignored = write(failureFd, &one, sizeof one);
    };
    HttpServer server(serverOptions, RecommendationHandler(index, options.limit));
    if (const std::string error = server.Start(); !error.empty()) {
        log.Message(error);
        closeBoth();
        return 1;
    }
    if (server.MaxConnections() < options.maxConnections) {
        log.Message("at most " + std::to_string(server.MaxConnections()) + " connections at once, not " +
                    std::to_string(options.maxConnections) + ": the descriptor limit allows no more");
    }
    log.Message(StartedMessage(options, corpus, index, server, started));

    std::array<pollfd, 2> waits{pollfd{signalFd, POLLIN, 0}, pollfd{failureFd, POLLIN, 0}};
    while (poll(waits.data(), waits.size(), -1) < 0 && errno == EINTR) {
    }
    int status = 1;
    signalfd_siginfo caught{};
    if ((waits[0].revents & POLLIN) != 0U && read(signalFd, &caught, sizeof caught) == sizeof caught) {
        log.Message(std::string("stopping on ") + (caught.ssi_signo == SIGINT ? "SIGINT" : "SIGTERM"));
        status = 0;
    }
    server.Stop();
    closeBoth();
    return status;
}

} // namespace

int RunService(const std::vector<std::string_view>& args) {
    // Blocked before any thread starts, so that every thread inherits the mask and the signals are taken only
    // where the service waits for them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    const ServiceCommandLine commandLine = ParseServiceCommandLine(args);
    switch (commandLine.action) {
    case ServiceCommandLine::Action::UsageError:
        SayNow(commandLine.error + " (try --help)");
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
    RaiseDescriptorLimit();

    std::unique_ptr<LogWriter> log;
    try {
        log = std::make_unique<LogWriter>(STDERR_FILENO, std::string(kMessagePrefix));
    } catch (const std::system_error& error) {
        SayNow(std::string("cannot start the log writer: ") + error.what());
        return 1;
    }
    const auto started = std::chrono::steady_clock::now();
    ServiceCorpus corpus = LoadServiceCorpus(options.corpusPath, std::string(kJiebaDictionaryPath));
    if (!corpus.load.error.empty()) {
        log->Message("cannot load the corpus: " + corpus.load.error);
        return 1;
    }
    if (!corpus.notice.empty()) {
        log->Message(corpus.notice);
    }
    if (corpus.load.leftOut > 0) {
        log->Message("left out " + std::to_string(corpus.load.leftOut) +
                     " words that GBK cannot hold, the first on line " + std::to_string(corpus.load.firstLeftOutLine) +
                     " (no Morvane client could read a reply holding one)");
    }
    const WordIndex index(std::move(corpus.load.words));
    return ServeUntilStopped(options, corpus, index, *log, started, stopSignals);
}

} // namespace morvane
