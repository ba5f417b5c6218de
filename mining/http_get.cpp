#include "mining/http_get.h"

#include "mining/cancel_token.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string_view>

namespace morvane {

namespace {

constexpr std::string_view kUserAgent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";

// Upper bound of one wait for network activity. Cancel() wakes the wait at once; the bound only limits how long
// a lost wake-up could go unnoticed.
constexpr int kPollLimitMs = 1000;

// How the target's length is measured: with the same rules as the transfer's CURLOPT_PATH_AS_IS and
// CURLOPT_DISALLOW_USERNAME_IN_URL, so the measured target is the one that would go out.
constexpr unsigned kUrlFlags = CURLU_PATH_AS_IS | CURLU_DISALLOW_USER;

struct EasyCleanup {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct MultiCleanup {
    void operator()(CURLM* handle) const { curl_multi_cleanup(handle); }
};
struct UrlCleanup {
    void operator()(CURLU* handle) const { curl_url_cleanup(handle); }
};
struct HeaderListCleanup {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct StringCleanup {
    void operator()(char* text) const { curl_free(text); }
};

// Move-only owners of libcurl handles.
using EasyHandle = std::unique_ptr<CURL, EasyCleanup>;
using MultiHandle = std::unique_ptr<CURLM, MultiCleanup>;
using UrlHandle = std::unique_ptr<CURLU, UrlCleanup>;
using HeaderList = std::unique_ptr<curl_slist, HeaderListCleanup>;
using CurlString = std::unique_ptr<char, StringCleanup>;

// Keeps an easy handle attached to a multi handle; detaches it before either is cleaned up.
class MultiAttachment {
public:
    MultiAttachment(CURLM* multi, CURL* easy) : m_multi(multi), m_easy(easy) {
        if (curl_multi_add_handle(m_multi, m_easy) != CURLM_OK) {
            m_multi = nullptr;
        }
    }
    MultiAttachment(const MultiAttachment&) = delete;
    MultiAttachment& operator=(const MultiAttachment&) = delete;
    MultiAttachment(MultiAttachment&&) = delete;
    MultiAttachment& operator=(MultiAttachment&&) = delete;
    ~MultiAttachment() {
        if (m_multi != nullptr) {
            curl_multi_remove_handle(m_multi, m_easy);
        }
    }

    bool Attached() const { return m_multi != nullptr; }

private:
    CURLM* m_multi = nullptr;
    CURL* m_easy = nullptr;
};

bool EnsureCurlInitialised() {
    static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return initialised;
}

// Length of one part of a parsed url; nullopt when the url lacks it.
std::optional<std::size_t> UrlPartLength(CURLU* url, CURLUPart part) {
    char* raw = nullptr;
    if (curl_url_get(url, part, &raw, 0) != CURLUE_OK || raw == nullptr) {
        return std::nullopt;
    }
    const CurlString owned(raw);
    return std::strlen(raw);
}

bool IsHttpScheme(CURLU* url) {
    char* raw = nullptr;
    if (curl_url_get(url, CURLUPART_SCHEME, &raw, 0) != CURLUE_OK || raw == nullptr) {
        return false;
    }
    const CurlString owned(raw);
    const std::string_view scheme(raw);
    return scheme == "http" || scheme == "https";
}

// Parses url and returns the length of the request target it gives ("/path?query"), or nullopt when the url is
// not an http or https url that libcurl can parse.
std::optional<std::size_t> RequestTargetLength(const std::string& url) {
    const UrlHandle parsed(curl_url());
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), kUrlFlags) != CURLUE_OK ||
        !IsHttpScheme(parsed.get())) {
        return std::nullopt;
    }
    // An empty path goes out as "/".
    std::size_t length = std::max<std::size_t>(UrlPartLength(parsed.get(), CURLUPART_PATH).value_or(0), 1);
    if (const std::optional<std::size_t> query = UrlPartLength(parsed.get(), CURLUPART_QUERY)) {
        length += 1 + *query;
    }
    return length;
}

// Collects the body, refusing one that would pass its size limit.
struct BodySink {
    CURL* easy = nullptr;
    std::size_t maxBytes = kMaxReplyBytes;
    std::string body{};
    bool tooLarge = false;
    bool outOfMemory = false;
};

size_t AppendBody(char* data, size_t size, size_t count, void* userData) {
    auto* sink = static_cast<BodySink*>(userData);
    const size_t length = size * count;
    if (length > sink->maxBytes - sink->body.size()) {
        // Returning a short count makes libcurl end the transfer with a write error.
        sink->tooLarge = true;
        return 0;
    }
    try {
        if (sink->body.empty()) {
            // A body of announced length is held in one piece, rather than in doublings that can take three
            // times its size while the last one is copied.
            curl_off_t announced = -1;
            if (curl_easy_getinfo(sink->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) == CURLE_OK &&
                announced > 0 && static_cast<std::uint64_t>(announced) <= sink->maxBytes) {
                sink->body.reserve(static_cast<std::size_t>(announced));
            }
        }
        sink->body.append(data, length);
    } catch (const std::bad_alloc&) {
        sink->outOfMemory = true;
        return 0;
    }
    return length;
}

bool Configure(CURL* easy, const std::string& url, const HeaderList& headers, const HttpGetOptions& options,
               BodySink& sink) {
    bool ok = true;
    const auto set = [&](CURLoption option, auto value) {
        ok = ok && curl_easy_setopt(easy, option, value) == CURLE_OK;
    };
    set(CURLOPT_URL, url.c_str());
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
    set(CURLOPT_HTTPGET, 1L);
    set(CURLOPT_PATH_AS_IS, 1L);
    set(CURLOPT_DISALLOW_USERNAME_IN_URL, 1L);
    set(CURLOPT_USERAGENT, kUserAgent.data());
    set(CURLOPT_HTTPHEADER, headers.get());
    // An empty proxy name turns proxies off, so http_proxy and friends in the environment never reroute us.
    set(CURLOPT_PROXY, "");
    set(CURLOPT_FOLLOWLOCATION, 0L);
    set(CURLOPT_NOSIGNAL, 1L);
    // Removing a transfer whose host name is still being looked up would otherwise wait for the resolver thread,
    // which can take as long as the name server does; with this, libcurl leaves that thread to end by itself and
    // a cancelled request returns at once.
    set(CURLOPT_QUICK_EXIT, 1L);
    set(CURLOPT_TIMEOUT_MS, static_cast<long>(options.timeout.count()));
    // Refuses a body whose announced length is too large before any of it is read; AppendBody catches the rest.
    set(CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(options.maxBodyBytes));
    set(CURLOPT_WRITEFUNCTION, &AppendBody);
    set(CURLOPT_WRITEDATA, static_cast<void*>(&sink));
    return ok;
}

// Runs the attached transfer until it ends; its result, or nullopt when it was cancelled or the multi interface
// failed.
std::optional<CURLcode> Perform(CURLM* multi, CancelToken* cancel) {
    const auto cancelled = [cancel] { return cancel != nullptr && cancel->IsCancelled(); };
    int running = 1;
    while (running != 0) {
        if (cancelled() || curl_multi_perform(multi, &running) != CURLM_OK) {
            return std::nullopt;
        }
        if (running != 0 && curl_multi_poll(multi, nullptr, 0, kPollLimitMs, nullptr) != CURLM_OK) {
            return std::nullopt;
        }
    }
    if (cancelled()) {
        return std::nullopt;
    }
    int queued = 0;
    while (const CURLMsg* message = curl_multi_info_read(multi, &queued)) {
        if (message->msg == CURLMSG_DONE) {
            return message->data.result;
        }
    }
    return std::nullopt;
}

} // namespace

HttpGetResult HttpGet(const std::string& url, const HttpGetOptions& options) {
    HttpGetResult reply;
    CancelToken* const cancel = options.cancel;
    if (cancel != nullptr && cancel->IsCancelled()) {
        reply.outcome = HttpOutcome::Cancelled;
        return reply;
    }
    const std::optional<std::size_t> targetLength = RequestTargetLength(url);
    if (!targetLength) {
        return reply;
    }
    if (*targetLength > kMaxRequestTargetLength) {
        reply.outcome = HttpOutcome::TargetTooLong;
        return reply;
    }
    reply.outcome = HttpOutcome::NoReply;
    if (!EnsureCurlInitialised()) {
        return reply;
    }

    // Replaces libcurl's own Accept line with the same value, so the header set does not depend on its defaults.
    const HeaderList headers(curl_slist_append(nullptr, "Accept: */*"));
    const EasyHandle easy(curl_easy_init());
    const MultiHandle multi(curl_multi_init());
    BodySink sink{.easy = easy.get(), .maxBytes = options.maxBodyBytes, .tooLarge = false, .outOfMemory = false};
    if (!headers || !easy || !multi || !Configure(easy.get(), url, headers, options, sink)) {
        return reply;
    }
    const MultiAttachment attachment(multi.get(), easy.get());
    if (!attachment.Attached()) {
        return reply;
    }
    // Declared after the handles, so it ends (waiting for a waker in progress) before they are cleaned up.
    CancelToken::Subscription wake;
    if (cancel != nullptr) {
        CURLM* multiHandle = multi.get();
        wake = cancel->Subscribe([multiHandle] { curl_multi_wakeup(multiHandle); });
    }

    const std::optional<CURLcode> result = Perform(multi.get(), cancel);
    if (cancel != nullptr && cancel->IsCancelled()) {
        reply.outcome = HttpOutcome::Cancelled;
        return reply;
    }
    long status = 0;
    if (curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &status) == CURLE_OK) {
        reply.status = static_cast<int>(status);
    }
    if (sink.tooLarge || result == CURLE_FILESIZE_EXCEEDED) {
        reply.outcome = HttpOutcome::TooLarge;
        return reply;
    }
    if (sink.outOfMemory) {
        reply.outcome = HttpOutcome::OutOfMemory;
        return reply;
    }
    if (result == CURLE_OK) {
        reply.outcome = HttpOutcome::Complete;
    } else if (result == CURLE_OPERATION_TIMEDOUT) {
        reply.outcome = HttpOutcome::TimedOut;
    } else {
        reply.outcome = reply.status > 0 ? HttpOutcome::BrokenOff : HttpOutcome::NoReply;
    }
    // Whatever ended the transfer, the bytes of the body that arrived are the result: none when it failed before
    // the body, part of it when the body broke off.
    reply.body = std::move(sink.body);
    return reply;
}

} // namespace morvane
