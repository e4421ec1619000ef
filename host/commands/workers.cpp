// The worker threads of test and extract: a pool that runs the batches of
// decoding jobs the container hands it, in the order they were started, every
// thread with its own worker number (and so its own decoder record). A batch
// may be started while the one before still runs, so the threads go straight
// on to it while the container's thread hands out the files of the first.
// The threads start with the first batch: a help file small enough to be
// decoded on the container's own thread never starts them.
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "host/commands/commands.h"
#include "host/host.h"

namespace {

struct JobBatch {
    void (*job)(void*, int, int);
    void* context;
    int count, next, done;
};

}  // namespace

struct WorkerPool::State {
    std::mutex mutex;
    std::condition_variable wake, finished;
    std::vector<std::thread> threads;
    int workers = 0;
    std::deque<JobBatch> batches;  // started and not yet waited for, oldest first
    bool stopping = false;

    // The oldest batch with a job not yet taken, or null.
    JobBatch* NextBatch()
    {
        for (JobBatch& batch : batches)
            if (batch.next < batch.count)
                return &batch;
        return nullptr;
    }

    void Work(int worker)
    {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            JobBatch* batch = nullptr;
            wake.wait(lock, [&] { return stopping || (batch = NextBatch()) != nullptr; });
            if (stopping)
                return;
            // The batch stays in the queue until its last job is done.
            int j = batch->next++;
            lock.unlock();
            batch->job(batch->context, j, worker);
            lock.lock();
            if (++batch->done == batch->count)
                finished.notify_one();
        }
    }
};

WorkerPool::WorkerPool(int workers)
    : state_(new State)
{
    state_->workers = workers;
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
    return state_->workers;
}

void WorkerPool::StartJobs(void* pool, int count, void (*job)(void*, int, int), void* jobContext)
{
    State* state = ((WorkerPool*)pool)->state_;
    if (state->threads.empty())
        for (int w = 0; w < state->workers; ++w)
            state->threads.emplace_back([state, w] { state->Work(w); });
    std::lock_guard<std::mutex> lock(state->mutex);
    state->batches.push_back(JobBatch {job, jobContext, count > 0 ? count : 0, 0, 0});
    state->wake.notify_all();
}

void WorkerPool::WaitJobs(void* pool)
{
    State* state = ((WorkerPool*)pool)->state_;
    std::unique_lock<std::mutex> lock(state->mutex);
    if (state->batches.empty())
        return;
    JobBatch& oldest = state->batches.front();
    state->finished.wait(lock, [&] { return oldest.done == oldest.count; });
    state->batches.pop_front();
}

int DefaultJobs()
{
    unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : cores > 64 ? 64 : (int)cores;
}
