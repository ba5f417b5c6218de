#include "service/http_request_parser.h"

#include <algorithm>

namespace morvane {
namespace {

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
}

bool IsControl(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsAlphaNumeric(char c) {
    return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// A method or a header name: one or more of the characters HTTP allows in a token.
bool IsToken(std::string_view text) {
    static constexpr std::string_view kSymbols = "!#$%&'*+-.^_`|~";
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return IsAlphaNumeric(c) || kSymbols.find(c) != std::string_view::npos;
    });
}

// A Host value: a name, an IPv4 address or a bracketed IPv6 one, with an optional port; empty is allowed.
bool IsHostValue(std::string_view value) {
    static constexpr std::string_view kSymbols = "-._~%!$&'()*+,;=:[]";
    return std::all_of(value.begin(), value.end(),
                       [](char c) { return IsAlphaNumeric(c) || kSymbols.find(c) != std::string_view::npos; });
}

bool IsAcceptableTarget(std::string_view target) {
    const bool originForm = target.starts_with('/');
    const bool absoluteForm =
        EqualsIgnoringCase(target.substr(0, 7), "http://") || EqualsIgnoringCase(target.substr(0, 8), "https://");
    return (originForm || absoluteForm) &&
           std::none_of(target.begin(), target.end(), [](char c) { return c == ' ' || IsControl(c); });
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

// The index just past the empty line that ends the head ("\n\n" or "\n\r\n"), searching from "from"; npos when
// it has not arrived yet.
std::size_t FindHeadEnd(std::string_view input, std::size_t from) {
    std::size_t at = input.find('\n', from);
    while (at != std::string_view::npos) {
        if (at + 1 < input.size() && input[at + 1] == '\n') {
            return at + 2;
        }
        if (at + 2 < input.size() && input[at + 1] == '\r' && input[at + 2] == '\n') {
            return at + 3;
        }
        at = input.find('\n', at + 1);
    }
    return std::string_view::npos;
}

// The line of text starting at start, without its line end; next is set past the LF (npos at the end).
std::string_view LineAt(std::string_view text, std::size_t start, std::size_t& next) {
    const std::size_t end = text.find('\n', start);
    std::string_view line = text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    next = end == std::string_view::npos ? end : end + 1;
    if (line.ends_with('\r')) {
        line.remove_suffix(1);
    }
    return line;
}

RequestHead Refuse(RequestHead head, int status) {
    head.errorStatus = status;
    return head;
}

// Splits the request line into its three parts; false when it has another shape or an unacceptable part.
bool ReadRequestLine(RequestHead& head) {
    const std::string_view line = head.requestLine;
    const std::size_t firstSpace = line.find(' ');
    const std::size_t secondSpace = firstSpace == std::string_view::npos ? firstSpace : line.find(' ', firstSpace + 1);
    if (secondSpace == std::string_view::npos || line.find(' ', secondSpace + 1) != std::string_view::npos) {
        return false;
    }
    head.method = line.substr(0, firstSpace);
    head.target = line.substr(firstSpace + 1, secondSpace - firstSpace - 1);
    head.version = line.substr(secondSpace + 1);
    return IsToken(head.method) && IsAcceptableTarget(head.target);
}

bool IsHttpVersionShape(std::string_view version) {
    return version.size() == 8 && version.starts_with("HTTP/") && IsDigit(version[5]) && version[6] == '.' &&
           IsDigit(version[7]);
}

} // namespace

RequestFrame FrameRequest(std::string_view input, std::size_t resumeAt, std::size_t maxHeadBytes) {
    RequestFrame frame;
    const std::size_t start = input.find_first_not_of("\r\n");
    const std::size_t blankBytes = start == std::string_view::npos ? input.size() : start;
    if (blankBytes > kMaxBlankBytesBeforeRequest) {
        frame.state = RequestFrame::State::Refused;
        frame.headStart = blankBytes;
        frame.errorStatus = 400;
        return frame;
    }
    if (start == std::string_view::npos) {
        return frame;
    }
    frame.headStart = start;
    const std::string_view head = input.substr(start);
    const std::size_t end = FindHeadEnd(head, resumeAt > start ? resumeAt - start : 0);
    if (end == std::string_view::npos && head.size() <= maxHeadBytes) {
        // The LF of an ending "\n\r\n" may be one of the last two bytes.
        frame.resumeAt = start + (head.size() >= 2 ? head.size() - 2 : 0);
        return frame;
    }
    if (end == std::string_view::npos || end > maxHeadBytes) {
        frame.state = RequestFrame::State::Refused;
        frame.errorStatus = 431;
        return frame;
    }
    frame.state = RequestFrame::State::Complete;
    frame.headEnd = start + end;
    return frame;
}

std::string_view FirstLine(std::string_view head) {
    std::size_t next = 0;
    return LineAt(head, 0, next);
}

RequestHead ParseRequestHead(std::string_view head) {
    RequestHead parsed;
    std::size_t next = 0;
    parsed.requestLine = LineAt(head, 0, next);
    if (!ReadRequestLine(parsed)) {
        return Refuse(parsed, 400);
    }
    if (parsed.version != "HTTP/1.1" && parsed.version != "HTTP/1.0") {
        return Refuse(parsed, IsHttpVersionShape(parsed.version) ? 505 : 400);
    }

    bool closeAsked = false;
    bool keepAliveAsked = false;
    bool hasBody = false;
    int hosts = 0;
    while (next != std::string_view::npos) {
        const std::string_view line = LineAt(head, next, next);
        if (line.empty()) {
            break;
        }
        // Folded continuation lines are obsolete and a classic smuggling vector: refuse them.
        if (line.front() == ' ' || line.front() == '\t') {
            return Refuse(parsed, 400);
        }
        const std::size_t colon = line.find(':');
        const std::string_view name = line.substr(0, colon);
        if (colon == std::string_view::npos || !IsToken(name)) {
            return Refuse(parsed, 400);
        }
        const std::string_view value = TrimBlanks(line.substr(colon + 1));
        if (std::any_of(value.begin(), value.end(), [](char c) { return c != '\t' && IsControl(c); })) {
            return Refuse(parsed, 400);
        }
        if (EqualsIgnoringCase(name, "Host")) {
            ++hosts;
            if (!IsHostValue(value)) {
                return Refuse(parsed, 400);
            }
        } else if (EqualsIgnoringCase(name, "Connection")) {
            std::string_view rest = value;
            while (!rest.empty()) {
                const std::size_t comma = rest.find(',');
                const std::string_view token = TrimBlanks(rest.substr(0, comma));
                closeAsked = closeAsked || EqualsIgnoringCase(token, "close");
                keepAliveAsked = keepAliveAsked || EqualsIgnoringCase(token, "keep-alive");
                rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
            }
        } else if (EqualsIgnoringCase(name, "Content-Length")) {
            hasBody = hasBody || value != "0";
        } else if (EqualsIgnoringCase(name, "Transfer-Encoding")) {
            hasBody = true;
        }
    }
    // Which host a request is for must be unambiguous, and HTTP/1.1 makes it mandatory.
    if (hosts > 1 || (hosts == 0 && parsed.version == "HTTP/1.1")) {
        return Refuse(parsed, 400);
    }
    if (parsed.method != "GET" && parsed.method != "HEAD") {
        return Refuse(parsed, 405);
    }
    // This server reads no request bodies; answering one and reading on would take the body for a request.
    if (hasBody) {
        return Refuse(parsed, 400);
    }
    parsed.keepAlive = parsed.version == "HTTP/1.1" ? !closeAsked : (keepAliveAsked && !closeAsked);
    return parsed;
}

} // namespace morvane
