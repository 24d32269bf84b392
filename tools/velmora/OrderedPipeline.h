#pragma once
// An ordered parallel map: workers compute items 0..count-1 on threads of
// their own, and a consumer on the calling thread gets the results in item
// order. Whatever the consumer does therefore happens in the same order with
// any number of workers, and a worker's exception reaches the caller at its
// item, after every earlier result, as it would with one worker.
#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

namespace velmora_cli {

// The most workers --jobs accepts: past the cores they add only threads and
// memory (search state and the photos they hold).
constexpr int kMaxJobs = 64;

// All cores, as far as the standard library can tell, within 1..kMaxJobs.
inline int DefaultJobs()
{
    return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, static_cast<unsigned>(kMaxJobs)));
}

// makeWorker() is called `jobs` times on the calling thread, and each worker
// it returns, a callable Result(size_t index), is then used by one thread
// only, so it may keep state of its own (a face detector). consume(index,
// Result&) runs on the calling thread in index order. At most `window` items
// are computed ahead of the consumer, which bounds the memory results hold.
// With one job there are no threads: item i is computed, then consumed.
template <class MakeWorker, class Consume>
void RunOrdered(size_t count, int jobs, MakeWorker makeWorker, Consume consume, size_t window = 0)
{
    using Worker = std::invoke_result_t<MakeWorker&>;
    using Result = std::invoke_result_t<Worker&, size_t>;
    const size_t threads = std::min(static_cast<size_t>(std::max(jobs, 1)), std::max<size_t>(count, 1));
    std::vector<Worker> workers;
    for (size_t w = 0; w < threads; ++w)
        workers.push_back(makeWorker());
    auto alone = [&] {
        for (size_t i = 0; i < count; ++i) {
            Result result = workers[0](i);
            consume(i, result);
        }
    };
    if (threads == 1)
        return alone();

    struct Slot {
        std::optional<Result> result;
        std::exception_ptr error;
        bool ready = false;
    };
    window = std::max(window > 0 ? window : 4 * threads, threads);
    std::vector<Slot> slots(window);
    std::mutex mutex;
    std::condition_variable space, ready;
    size_t next = 0, consumed = 0;
    bool stop = false;

    auto run = [&](Worker& worker) {
        for (;;) {
            size_t i = 0;
            {
                std::unique_lock<std::mutex> lock(mutex);
                space.wait(lock, [&] { return stop || next >= count || next < consumed + window; });
                if (stop || next >= count)
                    return;
                i = next++;
            }
            Slot slot;
            try {
                slot.result.emplace(worker(i));
            } catch (...) {
                slot.error = std::current_exception();
            }
            slot.ready = true;
            {
                const std::lock_guard<std::mutex> lock(mutex);
                slots[i % window] = std::move(slot);
            }
            ready.notify_one();
        }
    };

    // Stops and joins the threads however the consumer leaves.
    struct Threads {
        std::vector<std::thread> running;
        std::mutex& mutex;
        std::condition_variable& space;
        bool& stop;
        ~Threads()
        {
            {
                const std::lock_guard<std::mutex> lock(mutex);
                stop = true;
            }
            space.notify_all();
            for (std::thread& t : running)
                t.join();
        }
    } started{{}, mutex, space, stop};
    for (Worker& worker : workers) {
        try {
            started.running.emplace_back(run, std::ref(worker));
        } catch (const std::system_error&) {
            break; // fewer threads give the same results, only later
        }
    }
    if (started.running.empty())
        return alone();

    for (size_t i = 0; i < count; ++i) {
        Slot slot;
        {
            std::unique_lock<std::mutex> lock(mutex);
            ready.wait(lock, [&] { return slots[i % window].ready; });
            slot = std::move(slots[i % window]);
            slots[i % window] = Slot();
            ++consumed;
        }
        space.notify_all();
        if (slot.error)
            std::rethrow_exception(slot.error);
        consume(i, *slot.result);
    }
}

} // namespace velmora_cli
