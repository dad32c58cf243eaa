// Timing helpers for tests in which the test plays a card reader: a
// stopwatch, a bound on calls that could wait for ever, and a background
// action that is always joined.
#pragma once

#include <chrono>
#include <functional>
#include <future>
#include <thread>

namespace kavex::test {

class Stopwatch {
public:
    Stopwatch() : start_(std::chrono::steady_clock::now()) {}
    long long ElapsedMs() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                     start_)
            .count();
    }

private:
    std::chrono::steady_clock::time_point start_;
};

// Ends the test process with a message: a call that hangs cannot be
// cancelled, and each test runs in a process of its own.
[[noreturn]] void AbortHungCall(const char* what, int limitMs);

// Runs `call` on another thread and returns its result, or ends the test
// process when it has not returned within `limitMs`.
template <class Call>
auto Bounded(int limitMs, Call call, const char* what = "the call") -> decltype(call()) {
    auto result = std::async(std::launch::async, std::move(call));
    if (result.wait_for(std::chrono::milliseconds(limitMs)) != std::future_status::ready) {
        AbortHungCall(what, limitMs);
    }
    return result.get();
}

// Runs an action on a thread of its own for the life of the object.
class Background {
public:
    explicit Background(std::function<void()> action) : thread_(std::move(action)) {}
    ~Background() { thread_.join(); }
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;

private:
    std::thread thread_;
};

inline void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace kavex::test
