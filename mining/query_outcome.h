#pragma once

namespace morvane {

// What became of the request for one seed. Only Recommendation is a reply of the service's shape; every other
// outcome gives no words.
enum class QueryOutcome {
    Recommendation, // a reply of the service's shape was read (its list may be empty, or success not "1")
    SeedTooLong,    // the request target would pass the longest one sent; nothing was sent
    NoReply,        // no reply at all: no connection, or the request could not be sent
    TimedOut,       // no whole reply within the time-out
    BrokenOff,      // the reply broke off before its end
    ErrorStatus,    // an HTTP status outside 200-299 with a body that is no recommendation
    HtmlPage,       // an HTML page
    NotUtf8,        // a body that is not UTF-8 text
    NotGbk,         // UTF-8 text holding a character that GBK lacks, so none of it can be read
    NotJson,        // not JSON (an empty body included)
    OtherJson,      // JSON of another shape: no string success in a root object
    TooLarge,       // a reply larger than a reply may be (see kMaxReplyBytes and ParseGbkJson)
    OutOfMemory,    // memory ran out while the reply was read
    Cancelled,      // the request was abandoned through its cancel token
};

// What a front end learns about one seed's request.
struct QueryReport {
    QueryOutcome outcome = QueryOutcome::Recommendation;
    int httpStatus = 0; // the reply's status code; 0 when no status line arrived
};

} // namespace morvane
