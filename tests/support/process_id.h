// The test process's id, for ports and names that parallel runs must not share.
#pragma once
#ifdef _WIN32
#include <process.h>
#define GAUGELINE_PID _getpid()
#else
#include <unistd.h>
#define GAUGELINE_PID getpid()
#endif
