#include "SpectralHandover.h"

#include "Thvofft.h"

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
        if (pending_++ == 0) done_.Reset();
    }
    wake_[static_cast<size_t>(worker)].Set();
}

bool SpectralWorkers::Wait(std::chrono::milliseconds timeout)
{
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
        pending_ = 0;
        done_.Set();
    }
    jobs_ = {};
    running_ = 0;
}

void SpectralWorkers::Body(int worker)
{
    AutoResetEvent& wake = wake_[static_cast<size_t>(worker)];
    const Job& job = jobs_[static_cast<size_t>(worker)];
    for (;;) {
        wake.Wait();
        if (stopping_.load(std::memory_order_relaxed)) return;
        if (job.unit) job.unit->Run(job.orig, job.kar, job.gain, job.out, job.count);
        std::lock_guard<std::mutex> guard(lock_);
        if (--pending_ <= 0) {
            pending_ = 0;
            done_.Set();
        }
    }
}
