#include "SpectralHandover.h"

#include "Thvofft.h"

#include <algorithm>
#include <system_error>

SpectralWorkers::SpectralWorkers()
{
    done_.Set();  // nothing pending
}

SpectralWorkers::~SpectralWorkers()
{
    Stop();
}

bool SpectralWorkers::Start(int count)
{
    if (running_ > 0) return true;
    if (count < 1 || count > kWorkers) return false;
    stopping_.store(false, std::memory_order_relaxed);
    // A wake-up left over from a stopped worker must not start a new one.
    for (auto& w : wake_) w.Reset();
    running_ = count;
    for (int w = 0; w < count; ++w) {
        try {
            threads_[static_cast<size_t>(w)] = std::thread(&SpectralWorkers::Body, this, w);
        } catch (const std::system_error&) {
            Stop();
            return false;
        }
    }
    return true;
}

void SpectralWorkers::Submit(int worker, const Job& job)
{
    if (worker < 0 || worker >= running_) return;
    jobs_[static_cast<size_t>(worker)] = job;
    {
        // The count and the event change together, so the event is set
        // exactly when nothing submitted is left.
        std::lock_guard<std::mutex> guard(lock_);
        if (pending_.fetch_add(1, std::memory_order_relaxed) == 0) done_.Reset();
    }
    state_[static_cast<size_t>(worker)].store(kSubmitted, std::memory_order_release);
    wake_[static_cast<size_t>(worker)].Set();
}

bool SpectralWorkers::Claim(int worker)
{
    int expected = kSubmitted;
    return state_[static_cast<size_t>(worker)].compare_exchange_strong(expected, kClaimed, std::memory_order_acquire,
                                                                      std::memory_order_relaxed);
}

void SpectralWorkers::Finish(const Job& job)
{
    if (job.unit) job.unit->Run(job.orig, job.kar, job.gain, job.out, job.count);
    std::lock_guard<std::mutex> guard(lock_);
    if (pending_.fetch_sub(1, std::memory_order_release) <= 1) {
        pending_.store(0, std::memory_order_release);
        done_.Set();
    }
}

bool SpectralWorkers::TakeBack(int worker)
{
    if (worker < 0 || worker >= running_ || !Claim(worker)) return false;
    const size_t w = static_cast<size_t>(worker);
    const Job job = jobs_[w];
    state_[w].store(kNoJob, std::memory_order_relaxed);
    Finish(job);
    return true;
}

bool SpectralWorkers::Wait(std::chrono::milliseconds timeout)
{
    // About the time a sleep and a wake-up cost, spent watching the count.
    constexpr auto kSpin = std::chrono::microseconds(20);
    const auto until = std::chrono::steady_clock::now() + std::min<std::chrono::microseconds>(kSpin, timeout);
    do {
        for (int i = 0; i < 64; ++i)
            if (pending_.load(std::memory_order_acquire) == 0) return true;
    } while (std::chrono::steady_clock::now() < until);
    return done_.WaitFor(timeout);
}

void SpectralWorkers::Stop()
{
    // Every worker gets the stop flag and its wake-up first, so they end
    // together; then each is waited for.
    stopping_.store(true, std::memory_order_relaxed);
    for (auto& w : wake_) w.Set();
    for (auto& t : threads_)
        if (t.joinable()) t.join();
    for (auto& w : wake_) w.Reset();
    {
        std::lock_guard<std::mutex> guard(lock_);
        pending_.store(0, std::memory_order_relaxed);
        done_.Set();
    }
    for (auto& s : state_) s.store(kNoJob, std::memory_order_relaxed);
    jobs_ = {};
    running_ = 0;
}

void SpectralWorkers::Body(int worker)
{
    AutoResetEvent& wake = wake_[static_cast<size_t>(worker)];
    for (;;) {
        wake.Wait();
        if (stopping_.load(std::memory_order_relaxed)) return;
        // The owner may have taken the job back while this thread woke.
        if (!Claim(worker)) continue;
        const size_t w = static_cast<size_t>(worker);
        const Job job = jobs_[w];
        state_[w].store(kNoJob, std::memory_order_relaxed);
        Finish(job);
    }
}
