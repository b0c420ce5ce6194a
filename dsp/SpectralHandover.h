// The spectral hand-over: up to two worker threads that run the frequency
// merge's streams (one ThVocalFFT per channel) in parallel with the block
// loop's thread, and everything they synchronise with: a wake event per
// worker, the lock, the pending count and the completion event.
//
// The owner starts the workers it needs once, then per block submits one job
// to each of them and waits until every submitted job is done; Stop (or the
// destructor) ends the threads. A worker takes one job at a time: submit to
// it again only after a wait has returned true. Jobs run on the worker's
// thread, or on the owner's when it takes back a job its worker has not
// started yet (a worker that wakes late then finds nothing to do); the unit
// and the arrays a job names must stay untouched by the owner until the wait
// returns true. A wait spins a few microseconds before it sleeps, as a
// worker that started late is often about to finish.
#pragma once

#include "Events.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>

class ThVocalFFT;

class SpectralWorkers final {
public:
    static constexpr int kWorkers = 2;

    // One stream's piece: unit->Run(orig, kar, gain, out, count).
    struct Job {
        ThVocalFFT* unit = nullptr;
        const int32_t* orig = nullptr;
        const int32_t* kar = nullptr;
        double gain = 0.0;
        int32_t* out = nullptr;
        int count = 0;
    };

    SpectralWorkers();
    ~SpectralWorkers();
    SpectralWorkers(const SpectralWorkers&) = delete;
    SpectralWorkers& operator=(const SpectralWorkers&) = delete;

    // Starts `count` threads (1 .. kWorkers) unless workers run already.
    // Returns false when count is out of range or a thread cannot be
    // created; nothing then runs.
    bool Start(int count = kWorkers);
    // Hands job to a started worker (0 .. count - 1) and wakes it; the job
    // runs once. Ignored unless the workers run and worker is in range.
    void Submit(int worker, const Job& job);
    // Runs worker's job on the calling thread unless the worker has begun
    // it (or it is done): the owner, done with its own share first, need not
    // wait for a worker still waking. True when it ran the job here.
    bool TakeBack(int worker);
    // Waits at most timeout for every submitted job to finish. True when none
    // is left (at once when nothing was submitted); false when the time ran
    // out, the jobs still running.
    bool Wait(std::chrono::milliseconds timeout);
    // Lets each thread end once its current job is done and joins them. The
    // workers may be started again.
    void Stop();

private:
    void Body(int worker);
    // Claims worker's job for the calling thread: true when it was waiting.
    bool Claim(int worker);
    void Finish(const Job& job);

    // A job's state: none or done, submitted, claimed by a thread.
    enum : int { kNoJob, kSubmitted, kClaimed };

    std::array<AutoResetEvent, kWorkers> wake_;
    ManualResetEvent done_;
    std::mutex lock_;
    std::atomic<int32_t> pending_{0};         // submitted jobs not yet finished; changed under lock_
    std::array<std::atomic<int>, kWorkers> state_{};
    std::array<Job, kWorkers> jobs_{};        // written before state_ says submitted, read by who claims it
    std::atomic<bool> stopping_{false};
    int running_ = 0;                         // threads started
    std::array<std::thread, kWorkers> threads_;  // last: they use everything above
};
