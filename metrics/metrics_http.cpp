#include "metrics/metrics_http.h"

#include <cstring>

namespace {

// RFC 9110 token characters (methods, header names).
bool isTokenChar(unsigned char c) {
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
        return true;
    return c != 0 && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

// Bytes a line may hold: tab, visible ASCII, space and bytes above ASCII.
// Control bytes (NUL and a CR that does not end a line among them) never.
bool isLineChar(unsigned char c) {
    return c == '\t' || (c >= 0x20 && c != 0x7F);
}

bool isToken(const char* p, int n) {
    if (n == 0)
        return false;
    for (int i = 0; i < n; ++i)
        if (!isTokenChar(static_cast<unsigned char>(p[i])))
            return false;
    return true;
}

bool equals(const char* p, int n, const char* text) {
    return static_cast<int>(std::strlen(text)) == n && std::memcmp(p, text, n) == 0;
}

bool equalsNoCase(const char* p, int n, const char* lower) {
    if (static_cast<int>(std::strlen(lower)) != n)
        return false;
    for (int i = 0; i < n; ++i) {
        char c = p[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != lower[i])
            return false;
    }
    return true;
}

struct RequestLine {
    bool valid;
    bool http11;
    MetricsRequest request;
};

// "METHOD SP target SP HTTP/1.x", single spaces; the target in origin form
// ("/path?query") or absolute form ("http://host/path?query").
RequestLine readRequestLine(const char* p, int n) {
    RequestLine bad{false, false, {MetricsRequestKind::BadRequest, false}};
    const char* firstSpace = static_cast<const char*>(std::memchr(p, ' ', n));
    if (!firstSpace)
        return bad;
    int methodLength = static_cast<int>(firstSpace - p);
    const char* target = firstSpace + 1;
    const char* secondSpace = static_cast<const char*>(std::memchr(target, ' ', p + n - target));
    if (!secondSpace || !isToken(p, methodLength))
        return bad;
    int targetLength = static_cast<int>(secondSpace - target);
    const char* version = secondSpace + 1;
    int versionLength = static_cast<int>(p + n - version);
    bool http11 = equals(version, versionLength, "HTTP/1.1");
    if (!http11 && !equals(version, versionLength, "HTTP/1.0"))
        return bad;
    for (int i = 0; i < targetLength; ++i)
        if (static_cast<unsigned char>(target[i]) <= 0x20 || static_cast<unsigned char>(target[i]) >= 0x7F)
            return bad;
    const char* path = target;
    int pathLength = targetLength;
    if (targetLength >= 7 && equalsNoCase(target, 7, "http://")) {
        const char* slash = static_cast<const char*>(std::memchr(target + 7, '/', targetLength - 7));
        if (slash == target + 7)
            return bad; // no host
        path = slash ? slash : target + targetLength;
        pathLength = static_cast<int>(target + targetLength - path);
    } else if (targetLength == 0 || target[0] != '/') {
        return bad;
    }
    const char* query = static_cast<const char*>(std::memchr(path, '?', pathLength));
    if (query)
        pathLength = static_cast<int>(query - path);

    RequestLine line{true, http11, {MetricsRequestKind::MethodNotAllowed, false}};
    bool get = equals(p, methodLength, "GET");
    line.request.head = equals(p, methodLength, "HEAD");
    if (get || line.request.head)
        line.request.kind =
            equals(path, pathLength, "/metrics") ? MetricsRequestKind::Metrics : MetricsRequestKind::NotFound;
    return line;
}

} // namespace

MetricsRequest readMetricsRequest(const char* data, int size) {
    const MetricsRequest bad{MetricsRequestKind::BadRequest, false};
    const MetricsRequest incomplete{MetricsRequestKind::Incomplete, false};
    int limit = size < kMetricsRequestMax ? size : kMetricsRequestMax;
    if (limit < 0)
        limit = 0;
    RequestLine requestLine{false, false, incomplete};
    int hosts = 0;
    int pos = 0;
    for (;;) {
        int end = pos;
        while (end < limit && data[end] != '\n') {
            unsigned char c = static_cast<unsigned char>(data[end]);
            bool lineEndingCr = c == '\r' && (end + 1 == limit || data[end + 1] == '\n');
            if (!isLineChar(c) && !lineEndingCr)
                return bad;
            ++end;
        }
        if (end == limit)
            return size >= kMetricsRequestMax ? bad : incomplete;
        const char* line = data + pos;
        int length = end - pos;
        if (length > 0 && line[length - 1] == '\r')
            --length;
        pos = end + 1;
        if (!requestLine.valid) {
            if (length == 0)
                continue;
            requestLine = readRequestLine(line, length);
            if (!requestLine.valid)
                return bad;
            continue;
        }
        if (length == 0)
            break;
        // "name: value"; no folded lines, no space before the colon.
        const char* colon = static_cast<const char*>(std::memchr(line, ':', length));
        if (!colon || !isToken(line, static_cast<int>(colon - line)))
            return bad;
        if (equalsNoCase(line, static_cast<int>(colon - line), "host"))
            ++hosts;
    }
    if (hosts > 1 || (requestLine.http11 && hosts == 0))
        return bad;
    return requestLine.request;
}

std::string metricsResponse(const MetricsRequest& request, const std::string& metrics) {
    const char* status;
    const char* type = "text/plain; charset=utf-8";
    std::string body;
    switch (request.kind) {
    case MetricsRequestKind::Metrics:
        status = "200 OK";
        type = "text/plain; version=0.0.4; charset=utf-8";
        body = metrics;
        break;
    case MetricsRequestKind::NotFound:
        status = "404 Not Found";
        body = "Not found: the metrics are at /metrics.\n";
        break;
    case MetricsRequestKind::MethodNotAllowed:
        status = "405 Method Not Allowed";
        body = "Only GET and HEAD are served.\n";
        break;
    case MetricsRequestKind::BadRequest:
        status = "400 Bad Request";
        body = "Bad request.\n";
        break;
    default:
        return std::string();
    }
    std::string out = "HTTP/1.1 ";
    out += status;
    out += "\r\nContent-Type: ";
    out += type;
    out += "\r\nContent-Length: ";
    out += std::to_string(body.size());
    if (request.kind == MetricsRequestKind::MethodNotAllowed)
        out += "\r\nAllow: GET, HEAD";
    out += "\r\nConnection: close\r\n\r\n";
    if (!request.head)
        out += body;
    return out;
}
