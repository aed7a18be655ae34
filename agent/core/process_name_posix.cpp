// Linux tells a process's name in /proc/PID/comm (at most 15 bytes and a newline).
#include "agent/core/gpu_health.h"

#include <cstdio>
#include <cstring>

void processName(uint32_t pid, char* name, size_t size) {
    if (size == 0)
        return;
    name[0] = '\0';
    char path[32];
    std::snprintf(path, sizeof path, "/proc/%u/comm", static_cast<unsigned>(pid));
    FILE* f = std::fopen(path, "r");
    if (!f)
        return;
    if (!std::fgets(name, static_cast<int>(size), f))
        name[0] = '\0';
    std::fclose(f);
    name[std::strcspn(name, "\n")] = '\0';
}
