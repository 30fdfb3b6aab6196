// A fixed set of threads for the long steps, with the results taken in the order of the items
// so that what is written never depends on which thread was quicker.

#include "tools/yayin/yayin.h"

#include "lzms/lzms.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

namespace {

struct Pool {
    std::mutex mutex;
    std::condition_variable task_ready;
    std::condition_variable task_done;
    // A task with the count of its item's tasks not yet run, which it lowers when it has run.
    std::deque<std::pair<std::function<void()>, size_t *>> queue;
    size_t unfinished_tasks = 0;
    bool closing = false;
};

void RunTasks(Pool *pool)
{
    std::unique_lock<std::mutex> lock(pool->mutex);
    for (;;) {
        pool->task_ready.wait(lock, [pool] { return pool->closing || !pool->queue.empty(); });
        if (pool->queue.empty())
            return;
        std::pair<std::function<void()>, size_t *> task = std::move(pool->queue.front());
        pool->queue.pop_front();
        lock.unlock();
        task.first();
        lock.lock();
        --*task.second;
        --pool->unfinished_tasks;
        pool->task_done.notify_one();
    }
}

} // namespace

unsigned DefaultWorkerCount()
{
    unsigned count = std::thread::hardware_concurrency();
    return count > 0 ? count : 1;
}

Status RunInOrder(unsigned workers, const std::vector<uint64_t> &weights,
                  const std::function<Status(size_t item, const SubmitTask &submit)> &start,
                  const std::function<Status(size_t item)> &finish)
{
    Pool pool;
    const size_t count = weights.size();
    std::vector<size_t> remaining(count, 0); // guarded by the pool's mutex
    const size_t window = 2 * (size_t)workers;
    const uint64_t budget = (uint64_t)workers * kLzmsBufferChunkSize;
    uint64_t held = 0; // the weights of the items started and not finished
    size_t started = 0;
    size_t finished = 0;
    SubmitTask submit = [&](std::function<void()> task) {
        std::lock_guard<std::mutex> lock(pool.mutex);
        remaining[started]++;
        pool.unfinished_tasks++;
        pool.queue.emplace_back(std::move(task), &remaining[started]);
        pool.task_ready.notify_one();
    };
    std::vector<std::thread> threads;
    for (unsigned i = 0; i < workers; i++)
        threads.emplace_back(RunTasks, &pool);
    Status status = StatusOk;
    while (status == StatusOk && finished < count) {
        bool next_done;
        {
            std::unique_lock<std::mutex> lock(pool.mutex);
            auto ready = [&] {
                return (finished < started && remaining[finished] == 0) ||
                       (started < count && pool.unfinished_tasks < window &&
                        (started == finished || held + weights[started] <= budget));
            };
            pool.task_done.wait(lock, ready);
            next_done = finished < started && remaining[finished] == 0;
        }
        if (next_done) {
            held -= weights[finished];
            status = finish(finished++);
        } else {
            held += weights[started];
            status = start(started, submit);
            started++;
        }
    }
    {
        std::lock_guard<std::mutex> lock(pool.mutex);
        pool.closing = true;
        pool.queue.clear();
        pool.task_ready.notify_all();
    }
    for (std::thread &thread : threads)
        thread.join();
    return status;
}
