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
    } cases[] = {
        {"GET /metrics HTTP/1.0\r\n\r\n", K::Metrics},
        {"\r\nGET /metrics?name[]=x HTTP/1.1\nhost: a\nAccept: */*\n\n", K::Metrics},
        {"HEAD /metrics HTTP/1.1\r\nHost: a\r\n\r\n", K::Metrics},
        {"GET http://agent:58681/metrics HTTP/1.1\r\nHost: a\r\n\r\n", K::Metrics},
        {"GET / HTTP/1.1\r\nHost: a\r\n\r\n", K::NotFound},
        {"GET /metricsx?a HTTP/1.0\r\n\r\n", K::NotFound},
        {"POST /metrics HTTP/1.1\r\nHost: a\r\n\r\n", K::MethodNotAllowed},
        {"get /metrics HTTP/1.0\r\n\r\n", K::MethodNotAllowed},
        {"GET /metrics HTTP/1.1", K::Incomplete},
        {"GET /metrics HTTP/1.1\r\nHost: a\r\n\r", K::Incomplete},
        {"GET /metrics HTTP/2.0\r\n", K::BadRequest},
        {"GET /metrics HTTP/1.1 \r\n", K::BadRequest},
        {"GET metrics HTTP/1.1\r\n", K::BadRequest},
        {"GET http:///metrics HTTP/1.1\r\n", K::BadRequest},
        {"GET /m\xE9trics HTTP/1.1\r\n", K::BadRequest},
        {"garbage\r\n\r\n", K::BadRequest},
        {std::string("GET /metrics\0 HTTP/1.1", 22), K::BadRequest},
        {"GET /metrics HTTP/1.1\r\nHost: a\rb\r\n\r\n", K::BadRequest},
        {"GET /metrics HTTP/1.1\r\n\r\n", K::BadRequest},
        {"GET /metrics HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n", K::BadRequest},
        {"GET /metrics HTTP/1.0\r\nHost : a\r\n\r\n", K::BadRequest},
        {"GET /metrics HTTP/1.0\r\nX: a\r\n folded\r\n\r\n", K::BadRequest},
        {overlong, K::BadRequest},
        {fullHeaders, K::BadRequest},
        {fullHeaders.substr(0, kMetricsRequestMax - 1), K::Incomplete},
    };
    for (const Case& c : cases) {
        MetricsRequest r = readMetricsRequest(c.bytes.data(), static_cast<int>(c.bytes.size()));
        EXPECT_EQ(c.kind, r.kind) << c.bytes.substr(0, 60);
        EXPECT_EQ(c.bytes.compare(0, 4, "HEAD") == 0, r.head) << c.bytes.substr(0, 60);
    }
}

} // namespace
