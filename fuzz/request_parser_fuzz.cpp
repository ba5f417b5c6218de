// Feeds a connection's arbitrary input to morvane-recomd's request parser as its server does: the bytes arrive in
// random pieces, every complete head is read and taken off the front, a refused one ends the connection. Checks
// the framing against a fresh search and against the framing rule written out plainly, the reading of every head
// against the acceptance rules written out plainly, and that neither the line ends (CR LF or LF), the case of
// the header names nor the order of the header lines changes whether a request is accepted. The first byte
// picks the longest head allowed, the second seeds the piece sizes.
#include "fuzz/fuzz_check.h"
#include "service/http_request_parser.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

using morvane::RequestFrame;
using morvane::RequestHead;
using morvane::fuzz::Check;
using State = RequestFrame::State;

bool IsControl(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}

bool IsAlnum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsTokenText(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return IsAlnum(c) || std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
    });
}

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return lower;
}

std::string_view Trim(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The offset just past the first empty line of text ("\n\n" or "\n\r\n"), or npos.
std::size_t FirstHeadEnd(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\n') {
            continue;
        }
        if (text.substr(i + 1, 1) == "\n") {
            return i + 2;
        }
        if (text.substr(i + 1, 2) == "\r\n") {
            return i + 3;
        }
    }
    return std::string_view::npos;
}

// The frame the framing rule gives for input, written out plainly.
RequestFrame ExpectedFrame(std::string_view input, std::size_t maxHead) {
    std::size_t blank = 0;
    while (blank < input.size() && (input[blank] == '\r' || input[blank] == '\n')) {
        ++blank;
    }
    RequestFrame frame;
    frame.headStart = blank;
    if (blank > morvane::kMaxBlankBytesBeforeRequest) {
        frame.state = State::Refused;
        frame.errorStatus = 400;
        return frame;
    }
    const std::string_view rest = input.substr(blank);
    if (rest.empty()) {
        frame.headStart = 0;
        return frame;
    }
    const std::size_t end = FirstHeadEnd(rest);
    if (end != std::string_view::npos && end <= maxHead) {
        frame.state = State::Complete;
        frame.headEnd = blank + end;
    } else if (end == std::string_view::npos && rest.size() <= maxHead) {
        frame.resumeAt = blank + (rest.size() >= 2 ? rest.size() - 2 : 0);
    } else {
        frame.state = State::Refused;
        frame.errorStatus = 431;
    }
    return frame;
}

bool SameFrame(const RequestFrame& a, const RequestFrame& b) {
    return a.state == b.state && a.headStart == b.headStart && a.headEnd == b.headEnd && a.resumeAt == b.resumeAt &&
           a.errorStatus == b.errorStatus;
}

// The lines of head up to its first empty line, each without its LF and one CR before it.
std::vector<std::string_view> HeadLines(std::string_view head) {
    std::vector<std::string_view> lines;
    for (;;) {
        const std::size_t lf = head.find('\n');
        std::string_view line = head.substr(0, lf);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        if (!lines.empty() && line.empty()) {
            break;
        }
        lines.push_back(line);
        if (lf == std::string_view::npos) {
            break;
        }
        head.remove_prefix(lf + 1);
    }
    return lines;
}

// Whether the acceptance rules let head through, and whether the connection stays open after it.
struct Verdict {
    bool accepted = false;
    bool keepAlive = false;
    std::string method, target, version;
};

Verdict ExpectedVerdict(std::string_view head) {
    Verdict verdict;
    const std::vector<std::string_view> lines = HeadLines(head);
    const std::string_view requestLine = lines.front();
    if (std::count(requestLine.begin(), requestLine.end(), ' ') != 2) {
        return verdict;
    }
    const std::size_t first = requestLine.find(' ');
    const std::size_t second = requestLine.find(' ', first + 1);
    verdict.method = requestLine.substr(0, first);
    verdict.target = requestLine.substr(first + 1, second - first - 1);
    verdict.version = requestLine.substr(second + 1);
    const std::string lowerTarget = Lower(verdict.target);
    const bool targetForm =
        lowerTarget.starts_with('/') || lowerTarget.starts_with("http://") || lowerTarget.starts_with("https://");
    if (!IsTokenText(verdict.method) || !targetForm ||
        std::any_of(verdict.target.begin(), verdict.target.end(), IsControl) ||
        (verdict.version != "HTTP/1.0" && verdict.version != "HTTP/1.1") ||
        (verdict.method != "GET" && verdict.method != "HEAD")) {
        return verdict;
    }
    int hosts = 0;
    bool close = false;
    bool keepAlive = false;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        const std::size_t colon = line.find(':');
        if (line.starts_with(' ') || line.starts_with('\t') || colon == std::string_view::npos ||
            !IsTokenText(line.substr(0, colon))) {
            return verdict;
        }
        const std::string name = Lower(line.substr(0, colon));
        const std::string_view value = Trim(line.substr(colon + 1));
        if (std::any_of(value.begin(), value.end(), [](char c) { return c != '\t' && IsControl(c); })) {
            return verdict;
        }
        if (name == "host") {
            ++hosts;
            if (!std::all_of(value.begin(), value.end(), [](char c) {
                    return IsAlnum(c) || std::string_view("-._~%!$&'()*+,;=:[]").find(c) != std::string_view::npos;
                })) {
                return verdict;
            }
        } else if (name == "transfer-encoding" || (name == "content-length" && value != "0")) {
            return verdict;
        } else if (name == "connection") {
            std::size_t start = 0;
            while (start <= value.size()) {
                const std::size_t comma = std::min(value.find(',', start), value.size());
                const std::string token = Lower(Trim(value.substr(start, comma - start)));
                close = close || token == "close";
                keepAlive = keepAlive || token == "keep-alive";
                start = comma + 1;
            }
        }
    }
    if (hosts > 1 || (hosts == 0 && verdict.version == "HTTP/1.1")) {
        return verdict;
    }
    verdict.accepted = true;
    verdict.keepAlive = verdict.version == "HTTP/1.1" ? !close : keepAlive && !close;
    return verdict;
}

// head with every header line rewritten by rewrite (the request line and the empty line stay).
template <typename Rewrite> std::string RewriteHeaderLines(std::string_view head, Rewrite rewrite) {
    std::vector<std::string_view> lines = HeadLines(head);
    std::vector<std::string> headers(lines.begin() + 1, lines.end());
    rewrite(headers);
    std::string out(lines.front());
    out += "\r\n";
    for (const std::string& header : headers) {
        out += header + "\r\n";
    }
    out += "\r\n";
    return out;
}

void CheckHead(std::string_view head) {
    const RequestHead parsed = morvane::ParseRequestHead(head);
    Check(parsed.requestLine == morvane::FirstLine(head), "the request line is the head's first line");
    const Verdict verdict = ExpectedVerdict(head);
    Check((parsed.errorStatus == 0) == verdict.accepted, "a head is accepted exactly when the rules let it through");
    if (parsed.errorStatus != 0) {
        const int status = parsed.errorStatus;
        Check(status == 400 || status == 405 || status == 505, "a refusal is 400, 405 or 505");
        Check(status != 505 || (parsed.version.starts_with("HTTP/") && parsed.version.size() == 8),
              "505 only for a version of the HTTP/x.y shape");
        return;
    }
    Check(parsed.method == verdict.method && parsed.target == verdict.target && parsed.version == verdict.version,
          "an accepted request line is read as method, target and version");
    Check(parsed.keepAlive == verdict.keepAlive, "the connection stays open as version and Connection say");

    // Only a head whose lines are plain: no CR that is not part of a line end, no obsolete folding.
    const std::vector<std::string_view> lines = HeadLines(head);
    const std::string bareLf = [&] {
        std::string out;
        for (const std::string_view line : lines) {
            out += std::string(line) + "\n";
        }
        return out + "\n";
    }();
    const RequestHead lfOnly = morvane::ParseRequestHead(bareLf);
    Check(lfOnly.errorStatus == 0 && lfOnly.keepAlive == parsed.keepAlive, "LF line ends read as CR LF ones");
    const RequestHead upper = morvane::ParseRequestHead(RewriteHeaderLines(head, [](std::vector<std::string>& h) {
        for (std::string& line : h) {
            std::transform(line.begin(), line.begin() + static_cast<std::ptrdiff_t>(line.find(':')), line.begin(),
                           [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; });
        }
    }));
    Check(upper.errorStatus == 0 && upper.keepAlive == parsed.keepAlive, "header names are read in any case");
    const RequestHead rotated = morvane::ParseRequestHead(RewriteHeaderLines(head, [](std::vector<std::string>& h) {
        if (!h.empty()) {
            std::rotate(h.begin(), h.begin() + 1, h.end());
        }
    }));
    Check(rotated.errorStatus == 0 && rotated.keepAlive == parsed.keepAlive, "the order of header lines is free");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const std::size_t maxHead = 16 + std::size_t{data[0]} * 8;
    std::minstd_rand random(data[1]);
    const std::string_view stream(reinterpret_cast<const char*>(data) + 2, size - 2);

    // Any text at all, as if it were a whole head.
    (void)morvane::ParseRequestHead(stream);

    std::uniform_int_distribution<std::size_t> pieceSize(1, 64);
    std::string input;
    std::size_t resumeAt = 0;
    bool closed = false;
    for (std::size_t fed = 0; fed < stream.size() && !closed;) {
        const std::size_t piece = std::min(pieceSize(random), stream.size() - fed);
        input.append(stream.substr(fed, piece));
        fed += piece;
        while (!input.empty()) {
            const RequestFrame frame = morvane::FrameRequest(input, resumeAt, maxHead);
            Check(SameFrame(frame, morvane::FrameRequest(input, 0, maxHead)),
                  "a search resumed where the last one left off finds what a fresh search finds");
            Check(SameFrame(frame, ExpectedFrame(input, maxHead)), "the head is framed by the framing rule");
            if (frame.state == State::Incomplete) {
                resumeAt = frame.resumeAt;
                break;
            }
            if (frame.state == State::Refused) {
                closed = true;
                break;
            }
            CheckHead(std::string_view(input).substr(frame.headStart, frame.headEnd - frame.headStart));
            input.erase(0, frame.headEnd);
            resumeAt = 0;
        }
    }
    return 0;
}
