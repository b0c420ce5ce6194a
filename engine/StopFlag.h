// The stop request a front end hands the engine: set from the window's or
// the terminal's thread (the terminal's after its signal handler noted an
// interrupt), polled by the engine between blocks. Only a flag, so relaxed
// loads and stores are enough. Copying copies the value, so the engine
// object that holds one stays copyable.
#pragma once

#include <atomic>
#include <cstdint>

class StopFlag {
public:
    StopFlag() = default;
    StopFlag(const StopFlag& other) : value_(other.value_.load(std::memory_order_relaxed)) {}
    StopFlag& operator=(const StopFlag& other)
    {
        value_.store(other.value_.load(std::memory_order_relaxed), std::memory_order_relaxed);
        return *this;
    }
    StopFlag& operator=(int32_t value)
    {
        value_.store(value, std::memory_order_relaxed);
        return *this;
    }
    operator int32_t() const { return value_.load(std::memory_order_relaxed); }

private:
    std::atomic<int32_t> value_{0};
    static_assert(std::atomic<int32_t>::is_always_lock_free);
};
