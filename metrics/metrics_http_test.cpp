#include "metrics/metrics_http.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using K = MetricsRequestKind;

TEST(MetricsHttp, RequestsAreJudgedAsSoonAsTheBytesDecide) {
    const std::string overlong = "GET /metrics?" + std::string(kMetricsRequestMax, 'a');
    const std::string fullHeaders = "GET /metrics HTTP/1.0\r\nX: " + std::string(kMetricsRequestMax, 'a');
    struct Case {
        std::string bytes;
        K kind;
        bool head;
    } cases[] = {
        {"GET /metrics HTTP/1.1\r\nHost: a\r\n\r\n", K::Metrics, false},
        {"GET /metrics HTTP/1.0\r\n\r\n", K::Metrics, false},
        {"\r\nGET /metrics?name[]=x HTTP/1.1\nhost: a\nAccept: */*\n\n", K::Metrics, false},
        {"HEAD /metrics HTTP/1.1\r\nHost: a\r\n\r\n", K::Metrics, true},
        {"GET http://agent:58681/metrics HTTP/1.1\r\nHost: a\r\n\r\n", K::Metrics, false},
        {"GET / HTTP/1.1\r\nHost: a\r\n\r\n", K::NotFound, false},
        {"HEAD /metrics/ HTTP/1.0\r\n\r\n", K::NotFound, true},
        {"GET /metricsx?a HTTP/1.0\r\n\r\n", K::NotFound, false},
        {"POST /metrics HTTP/1.1\r\nHost: a\r\n\r\n", K::MethodNotAllowed, false},
        {"get /metrics HTTP/1.0\r\n\r\n", K::MethodNotAllowed, false},
        {"GET /metrics HTTP/1.1", K::Incomplete, false},
        {"GET /metrics HTTP/1.1\r\nHost: a\r\n\r", K::Incomplete, false},
        {"", K::Incomplete, false},
        {"GET /metrics HTTP/2.0\r\n", K::BadRequest, false},
        {"GET /metrics HTTP/1.1 \r\n", K::BadRequest, false},
        {"GET  /metrics HTTP/1.1\r\n", K::BadRequest, false},
        {"GET metrics HTTP/1.1\r\n", K::BadRequest, false},
        {"GET http:///metrics HTTP/1.1\r\n", K::BadRequest, false},
        {"GET /m\xE9trics HTTP/1.1\r\n", K::BadRequest, false},
        {"garbage\r\n\r\n", K::BadRequest, false},
        {std::string("GET /metrics\0 HTTP/1.1", 22), K::BadRequest, false},
        {"GET /metrics HTTP/1.1\r\nHost: a\rb\r\n\r\n", K::BadRequest, false},
        {"GET /metrics HTTP/1.1\r\n\r\n", K::BadRequest, false},
        {"GET /metrics HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n", K::BadRequest, false},
        {"GET /metrics HTTP/1.0\r\nHost : a\r\n\r\n", K::BadRequest, false},
        {"GET /metrics HTTP/1.0\r\nX: a\r\n folded\r\n\r\n", K::BadRequest, false},
        {overlong, K::BadRequest, false},
        {fullHeaders, K::BadRequest, false},
        {fullHeaders.substr(0, kMetricsRequestMax - 1), K::Incomplete, false},
    };
    for (const Case& c : cases) {
        MetricsRequest r = readMetricsRequest(c.bytes.data(), static_cast<int>(c.bytes.size()));
        EXPECT_EQ(c.kind, r.kind) << c.bytes.substr(0, 60);
        EXPECT_EQ(c.head, r.head) << c.bytes.substr(0, 60);
    }
}

// The scrape answer's exact head; the error answers and HEAD's empty body are
// pinned where the server sends them (metrics_server_test.cpp).
TEST(MetricsHttp, AnswersCarryLengthTypeAndClose) {
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/plain; version=0.0.4; charset=utf-8\r\n"
                             "Content-Length: 6\r\nConnection: close\r\n\r\n";
    EXPECT_EQ(head + "m 1\n\xC3\xA9", metricsResponse({K::Metrics, false}, "m 1\n\xC3\xA9"));
}

} // namespace
