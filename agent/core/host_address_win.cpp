// The machine's addresses as Windows Sockets gives them for its host name.
#include "agent/core/reporter.h"

#include "net/tcp.h"

#include <winsock2.h>

#include <cstring>

int hostIpv4Addresses(uint32_t* networkOrder, int max) {
    if (!netStartup())
        return 0;
    int n = 0;
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) == 0) {
        hostent* host = gethostbyname(name);
        if (host && host->h_addrtype == AF_INET && host->h_length == 4)
            for (char** p = host->h_addr_list; *p && n < max; ++p)
                std::memcpy(&networkOrder[n++], *p, 4);
    }
    netCleanup();
    return n;
}
