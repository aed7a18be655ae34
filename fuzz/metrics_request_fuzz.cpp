// Any bytes a metrics client can send. Besides not crashing, the reader must
// judge a request once and for good: whatever follows the bytes that decided
// it (a body, more garbage) cannot change the verdict, since the server
// answers as soon as the bytes it has decide.
#include "metrics/metrics_http.h"

#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 2 * kMetricsRequestMax)
        return 0;
    const char* bytes = reinterpret_cast<const char*>(data);
    const int n = static_cast<int>(size);
    const MetricsRequest whole = readMetricsRequest(bytes, n);
    for (int cut : {n / 3, n / 2, n - 1}) {
        if (cut < 0)
            continue;
        MetricsRequest part = readMetricsRequest(bytes, cut);
        if (part.kind != MetricsRequestKind::Incomplete &&
            (part.kind != whole.kind || part.head != whole.head))
            __builtin_trap();
    }
    if (whole.kind == MetricsRequestKind::Incomplete && n >= kMetricsRequestMax)
        __builtin_trap();
    const bool served =
        whole.kind == MetricsRequestKind::Metrics || whole.kind == MetricsRequestKind::NotFound;
    if (served && !std::memchr(bytes, '/', size))
        __builtin_trap();
    const std::string answer = metricsResponse(whole, "m 1\n");
    if ((whole.kind == MetricsRequestKind::Incomplete) != answer.empty())
        __builtin_trap();
    return 0;
}
