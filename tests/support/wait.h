// Polls a condition every everyMs until it holds or withinMs have passed; the
// condition runs once per poll, so it may take what it found (a socket, a
// child's exit status).
#pragma once
#include <chrono>
#include <thread>

template <typename F> bool eventually(F condition, int withinMs, int everyMs = 10) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(withinMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(everyMs));
    }
    return true;
}
