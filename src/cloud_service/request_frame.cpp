#include "cloud_service/request_frame.h"

#include <charconv>

namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kBlockEnd = "\r\n\r\n";
// A Content-Length beyond this is not a body anyone sends; it also keeps the sum of header
// and body bytes far from overflowing.
constexpr std::size_t kMaxLengthDigits = 15;

std::string_view trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    const std::size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

bool parseLength(std::string_view text, std::size_t& length) {
    if (text.empty() || text.size() > kMaxLengthDigits)
        return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), length);
    return error == std::errc() && end == text.data() + text.size();
}

// Reads one header line into the frame; false when it makes the request unframable.
bool takeHeader(std::string_view line, RequestFrame& frame, bool& lengthSeen) {
    const std::size_t colon = line.find(':');
    // A line that starts with a blank continues the previous one, an obsolete form whose
    // meaning differs between servers.
    if (colon == std::string_view::npos || colon == 0 || line.front() == ' ' ||
        line.front() == '\t') {
        return false;
    }
    const std::string_view name = line.substr(0, colon);
    const std::string_view value = trimmed(line.substr(colon + 1));
    if (sameName(name, "Transfer-Encoding")) {
        frame.state = RequestFrame::State::LengthRequired;
        return true;
    }
    if (sameName(name, "Content-Length")) {
        std::size_t length = 0;
        // Two lengths that differ leave the body's end in doubt.
        if (!parseLength(value, length) || (lengthSeen && length != frame.bodyBytes))
            return false;
        frame.bodyBytes = length;
        lengthSeen = true;
    }
    if (sameName(name, "Expect") && sameName(value, "100-continue")) {
        frame.expectsContinue = true;
        return true;
    }
    frame.headers.append(line);
    frame.headers.append(kLineEnd);
    return true;
}

} // namespace

RequestFrame frameRequest(std::string_view received, std::size_t maxHeaderBytes) {
    RequestFrame frame;
    const std::size_t blockEnd = received.substr(0, maxHeaderBytes).find(kBlockEnd);
    if (blockEnd == std::string_view::npos) {
        frame.state = received.size() >= maxHeaderBytes ? RequestFrame::State::HeadersTooLong
                                                        : RequestFrame::State::Incomplete;
        return frame;
    }
    frame.headerBytes = blockEnd + kBlockEnd.size();
    const std::string_view block = received.substr(0, blockEnd + kLineEnd.size());
    const std::size_t requestLineEnd = block.find(kLineEnd);
    if (requestLineEnd == 0) {
        frame.state = RequestFrame::State::Malformed;
        return frame;
    }
    frame.headers.append(block.substr(0, requestLineEnd + kLineEnd.size()));
    frame.state = RequestFrame::State::Complete;
    bool lengthSeen = false;
    std::size_t start = requestLineEnd + kLineEnd.size();
    while (start < block.size()) {
        const std::size_t end = block.find(kLineEnd, start);
        if (!takeHeader(block.substr(start, end - start), frame, lengthSeen)) {
            frame.state = RequestFrame::State::Malformed;
            return frame;
        }
        start = end + kLineEnd.size();
    }
    frame.headers.append(kLineEnd);
    return frame;
}
