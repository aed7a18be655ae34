// The HTTP the metrics endpoint speaks: just enough of HTTP/1.0 and 1.1 to
// answer "GET /metrics" (and HEAD) once per connection, then close.
#pragma once
#include <string>

// Request head (request line and header lines) the endpoint takes at most.
constexpr int kMetricsRequestMax = 8192;

enum class MetricsRequestKind {
    Incomplete,       // no blank line yet: wait for more bytes
    Metrics,          // GET or HEAD of /metrics, with or without "?query"
    NotFound,         // GET or HEAD of any other path: 404
    MethodNotAllowed, // a well-formed request with another method: 405
    BadRequest,       // anything else: 400
};

struct MetricsRequest {
    MetricsRequestKind kind;
    bool head; // HEAD: the answer carries no body
};

// Judges the bytes received so far on a connection. Answers as soon as they
// decide: a malformed request line, a NUL or other control byte, or
// kMetricsRequestMax bytes without the end of the head make BadRequest even
// before the head is complete. Lines end in CRLF or LF; empty lines before
// the request line are skipped. HTTP/1.1 needs exactly one Host header,
// HTTP/1.0 at most one. A body is not read.
MetricsRequest readMetricsRequest(const char* data, int size);

// The whole answer to a decided request: status line, Content-Type,
// Content-Length, "Connection: close" and, except for HEAD, the body. For
// Metrics the body is metrics (the exposition text); the others carry a one-
// line reason. Empty for Incomplete.
std::string metricsResponse(const MetricsRequest& request, const std::string& metrics);
