// Native builds resolve the host name with getaddrinfo (thread-safe).
#include "agent/core/reporter.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

int hostIpv4Addresses(uint32_t* networkOrder, int max) {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return 0;
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &list) != 0)
        return 0;
    int n = 0;
    for (addrinfo* a = list; a && n < max; a = a->ai_next)
        if (a->ai_family == AF_INET)
            networkOrder[n++] = reinterpret_cast<sockaddr_in*>(a->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(list);
    return n;
}
