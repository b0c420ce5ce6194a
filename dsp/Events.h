// Small thread events built on a mutex and a condition variable.
//
// AutoResetEvent: Set releases one Wait (or the next one, if nobody waits) and
// the event resets itself when that wait returns.
// ManualResetEvent: stays set, releasing every wait, until Reset.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

class AutoResetEvent {
public:
    void Set()
    {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            signalled_ = true;
        }
        cv_.notify_one();
    }
    void Wait()
    {
        std::unique_lock<std::mutex> guard(mutex_);
        cv_.wait(guard, [this] { return signalled_; });
        signalled_ = false;
    }
    // Drops a signal that no wait has taken.
    void Reset()
    {
        std::lock_guard<std::mutex> guard(mutex_);
        signalled_ = false;
    }
    // True when signalled within the time (the signal is then consumed).
    bool WaitFor(std::chrono::milliseconds timeout)
    {
        std::unique_lock<std::mutex> guard(mutex_);
        if (!cv_.wait_for(guard, timeout, [this] { return signalled_; })) return false;
        signalled_ = false;
        return true;
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool signalled_ = false;
};

class ManualResetEvent {
public:
    void Set()
    {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            signalled_ = true;
        }
        cv_.notify_all();
    }
    void Reset()
    {
        std::lock_guard<std::mutex> guard(mutex_);
        signalled_ = false;
    }
    bool IsSet()
    {
        std::lock_guard<std::mutex> guard(mutex_);
        return signalled_;
    }
    void Wait()
    {
        std::unique_lock<std::mutex> guard(mutex_);
        cv_.wait(guard, [this] { return signalled_; });
    }
    // True when the event is set within the time.
    bool WaitFor(std::chrono::milliseconds timeout)
    {
        std::unique_lock<std::mutex> guard(mutex_);
        return cv_.wait_for(guard, timeout, [this] { return signalled_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool signalled_ = false;
};
