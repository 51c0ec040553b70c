#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Where the first HTTP request among a connection's received bytes ends, found before any
// worker takes the request: its header block and the length of the body after it.
struct RequestFrame {
    enum class State {
        Incomplete,     // the header block has not ended yet
        Complete,       // the header block has ended; the body may still be coming
        Malformed,      // cannot be framed (a header line without ":", a bad Content-Length)
        HeadersTooLong, // no end of the header block within the allowed bytes
        LengthRequired, // a body of unknown length (Transfer-Encoding)
    };

    State state = State::Incomplete;
    // Bytes of the header block as received, blank line included.
    std::size_t headerBytes = 0;
    // The Content-Length, 0 without one.
    std::size_t bodyBytes = 0;
    // The client waits for "100 Continue" before it sends the body.
    bool expectsContinue = false;
    // The header block as the request's handler gets it: without the "Expect: 100-continue"
    // line, since whoever frames the request answers that expectation.
    std::string headers;
};

// Frames the request at the start of `received`; a header block may take up to
// `maxHeaderBytes`.
RequestFrame frameRequest(std::string_view received, std::size_t maxHeaderBytes);
