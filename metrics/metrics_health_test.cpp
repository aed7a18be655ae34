// The fleet's families in the metrics text: identity labels, the health
// readings, Xid and process series, as literal bytes.
#include "metrics/metrics_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// The lines of text whose metric name starts with prefix, HELP lines left out.
std::string linesOf(const std::string& text, const std::string& prefix) {
    std::string out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end - start + 1);
        if (line.rfind(prefix, 0) == 0 || line.rfind("# TYPE " + prefix, 0) == 0)
            out += line;
        start = end + 1;
    }
    return out;
}

TEST(MetricsHealth, FamiliesCarryUuidAndOnlyWhatWasRead) {
    GpuSample s[kGpuSlotCount];
    for (GpuSample& g : s)
        clearGpuSample(&g);
    std::wcscpy(s[0].fullName, L"A");
    std::wcscpy(s[1].fullName, L"B");
    std::wcscpy(s[2].fullName, L"C");
    GpuHealth h[kGpuSlotCount];
    std::strcpy(h[0].identity.uuid, "GPU-0");
    std::strcpy(h[0].identity.pciBusId, "00000000:01:00.0");
    std::strcpy(h[1].identity.uuid, "GPU-1\"\n\xC3");
    std::strcpy(h[2].identity.uuid, "GPU-2");
    GpuHealthReadings& r = h[0].readings;
    r.energyRead = r.clockEventsRead = r.decoderRead = r.eccRead = true;
    r.energyMillijoules = 1234567;
    r.clockEventsSupported = 0x44; // sw_power_cap, hw_thermal_slowdown
    r.clockEventsActive = 0x40;
    r.decoderLoad = 7;
    r.eccCorrected = 5;
    r.eccUncorrected = 0;
    h[1].readings = r; // GPU 1 is down: nothing of it but info and up
    h[0].xids.watched = true;
    for (uint64_t xid : {79, 13, 79})
        countXid(h[0].xids, xid);
    for (uint64_t xid = 100; xid < 100 + kXidKinds + 2; ++xid)
        countXid(h[2].xids, xid);
    h[2].xids.watched = true;
    h[0].processes.read = true;
    h[0].processes.count = 1;
    h[0].processes.list[0] = GpuProcess{4242, 1048576, "python3"};
    h[0].processes.others = 3;
    h[0].processes.otherBytes = 2048;
    const bool up[kGpuSlotCount] = {true, false, true};
    std::string text = metricsText(s, h, 3, up, "550.54.15");

    struct Case {
        const char* prefix;
        const char* lines;
    } cases[] = {
        {"gaugeline_build_info",
         "# TYPE gaugeline_build_info gauge\ngaugeline_build_info{version=\"1.0.0\"} 1\n"},
        {"gaugeline_gpu_info",
         "# TYPE gaugeline_gpu_info gauge\n"
         "gaugeline_gpu_info{gpu=\"0\",uuid=\"GPU-0\",name=\"A\",pci_bus_id=\"00000000:01:00.0\",driver_"
         "version="
         "\"550.54.15\"} 1\n"
         "gaugeline_gpu_info{gpu=\"1\",uuid=\"GPU-1\\\"\\n\xEF\xBF\xBD\",name=\"B\",pci_bus_id=\"\","
         "driver_version=\"550.54.15\"} 1\n"
         "gaugeline_gpu_info{gpu=\"2\",uuid=\"GPU-2\",name=\"C\",pci_bus_id=\"\",driver_version=\"550.54."
         "15\"}"
         " 1\n"},
        {"gaugeline_gpu_energy_joules_total",
         "# TYPE gaugeline_gpu_energy_joules_total counter\n"
         "gaugeline_gpu_energy_joules_total{gpu=\"0\",uuid=\"GPU-0\"} 1234.567\n"},
        {"gaugeline_gpu_clock_event_active",
         "# TYPE gaugeline_gpu_clock_event_active gauge\n"
         "gaugeline_gpu_clock_event_active{gpu=\"0\",uuid=\"GPU-0\",reason=\"sw_power_cap\"} 0\n"
         "gaugeline_gpu_clock_event_active{gpu=\"0\",uuid=\"GPU-0\",reason=\"hw_thermal_slowdown\"} 1\n"},
        {"gaugeline_gpu_utilization_ratio",
         "# TYPE gaugeline_gpu_utilization_ratio gauge\n"
         "gaugeline_gpu_utilization_ratio{gpu=\"0\",uuid=\"GPU-0\",engine=\"decoder\"} 0.07\n"},
        {"gaugeline_gpu_ecc_errors_total",
         "# TYPE gaugeline_gpu_ecc_errors_total counter\n"
         "gaugeline_gpu_ecc_errors_total{gpu=\"0\",uuid=\"GPU-0\",type=\"corrected\"} 5\n"
         "gaugeline_gpu_ecc_errors_total{gpu=\"0\",uuid=\"GPU-0\",type=\"uncorrected\"} 0\n"},
        {"gaugeline_gpu_xid_errors_total{gpu=\"0\"",
         "gaugeline_gpu_xid_errors_total{gpu=\"0\",uuid=\"GPU-0\",xid=\"79\"} 2\n"
         "gaugeline_gpu_xid_errors_total{gpu=\"0\",uuid=\"GPU-0\",xid=\"13\"} 1\n"},
        {"gaugeline_gpu_process_memory_bytes",
         "# TYPE gaugeline_gpu_process_memory_bytes gauge\n"
         "gaugeline_gpu_process_memory_bytes{gpu=\"0\",uuid=\"GPU-0\",pid=\"4242\",name=\"python3\"} "
         "1048576\n"
         "gaugeline_gpu_process_memory_bytes{gpu=\"0\",uuid=\"GPU-0\",pid=\"other\",name=\"\"} 2048\n"},
        {"gaugeline_gpu_energy_joules_total{gpu=\"1\"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(linesOf(text, c.prefix), c.lines) << c.prefix;
    // GPU 2 saw more kinds of Xid than are kept: the first 16 by number, the rest as "other".
    EXPECT_NE(text.find("gaugeline_gpu_xid_errors_total{gpu=\"2\",uuid=\"GPU-2\",xid=\"115\"} 1\n"),
              std::string::npos);
    EXPECT_NE(text.find("gaugeline_gpu_xid_errors_total{gpu=\"2\",uuid=\"GPU-2\",xid=\"other\"} 2\n"),
              std::string::npos);
}

TEST(MetricsHealth, ProcessesSumByPidLargestFirstRestAsOther) {
    std::vector<ProcessEntry> entries;
    for (uint32_t pid = 1; pid <= kProcessesShown + 2; ++pid)
        entries.push_back({pid, 1000 + pid});
    entries.push_back({1, 5000}); // pid 1 again, as a graphics user: 6001 in all, the largest
    GpuProcesses p = sumProcesses(entries.data(), static_cast<int>(entries.size()));
    ASSERT_TRUE(p.read);
    EXPECT_EQ(p.count, kProcessesShown);
    EXPECT_EQ(p.list[0].pid, 1u);
    EXPECT_EQ(p.list[0].bytes, 6001u);
    EXPECT_EQ(p.list[1].pid, 66u);
    EXPECT_EQ(p.others, 2); // pids 2 and 3, the smallest
    EXPECT_EQ(p.otherBytes, 1002u + 1003u);
}

} // namespace
