// The worker threads of test and extract: a pool that runs each batch of
// decoding jobs the container hands it, every thread with its own worker
// number (and so its own decoder record), while the container's thread goes
// on with the batch before.
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "host/host.h"

struct WorkerPool::State {
    std::mutex mutex;
    std::condition_variable wake, finished;
    std::vector<std::thread> threads;
    void (*job)(void*, int, int) = nullptr;
    void* context = nullptr;
    int count = 0, next = 0, done = 0;
    unsigned long long batch = 0;
    bool stopping = false;

    void Work(int worker)
    {
        unsigned long long seen = 0;
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            wake.wait(lock, [&] { return stopping || batch != seen; });
            if (stopping)
                return;
            seen = batch;
            while (next < count) {
                int j = next++;
                lock.unlock();
                job(context, j, worker);
                lock.lock();
                if (++done == count)
                    finished.notify_one();
            }
        }
    }
};

WorkerPool::WorkerPool(int workers)
    : state_(new State)
{
    for (int w = 0; w < workers; ++w)
        state_->threads.emplace_back([this, w] { state_->Work(w); });
}

WorkerPool::~WorkerPool()
{
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->stopping = true;
    }
    state_->wake.notify_all();
    for (std::thread& thread : state_->threads)
        thread.join();
    delete state_;
}

int WorkerPool::Workers() const
{
    return (int)state_->threads.size();
}

void WorkerPool::StartJobs(void* pool, int count, void (*job)(void*, int, int), void* jobContext)
{
    State* state = ((WorkerPool*)pool)->state_;
    std::lock_guard<std::mutex> lock(state->mutex);
    state->job = job;
    state->context = jobContext;
    state->count = count > 0 ? count : 0;
    state->next = 0;
    state->done = 0;
    ++state->batch;
    state->wake.notify_all();
}

void WorkerPool::WaitJobs(void* pool)
{
    State* state = ((WorkerPool*)pool)->state_;
    std::unique_lock<std::mutex> lock(state->mutex);
    state->finished.wait(lock, [&] { return state->done == state->count; });
}

int DefaultJobs()
{
    unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : cores > 64 ? 64 : (int)cores;
}
