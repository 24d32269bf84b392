// The ordered parallel map behind the tool's photo pipelines.
#include "support/Common.h"
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "OrderedPipeline.h"

using velmora_cli::RunOrdered;

// Item 0 waits for item 1 to finish, so workers finish out of order; the
// consumer still gets every item in order, on the calling thread, and no item
// starts more than the window (4) ahead of it.
TEST(OrderedPipeline, ResultsComeInOrderWhateverOrderWorkersFinishIn)
{
    for (const int jobs : {2, 3}) {
        std::atomic<bool> oneDone{false};
        std::atomic<size_t> consumed{0};
        std::atomic<bool> beyondWindow{false};
        std::vector<size_t> order;
        const auto caller = std::this_thread::get_id();
        RunOrdered(
            50, jobs,
            [&] {
                return [&](size_t i) {
                    // The consumer's count lags the pipeline's by one item at most.
                    beyondWindow = beyondWindow || i > consumed + 4;
                    while (i == 0 && !oneDone)
                        std::this_thread::yield();
                    if (i == 0) // time for the other workers to run ahead, were they allowed
                        std::this_thread::sleep_for(std::chrono::milliseconds(10));
                    oneDone = oneDone || i == 1;
                    return i * i;
                };
            },
            [&](size_t i, size_t& square) {
                EXPECT_EQ(square, i * i);
                EXPECT_EQ(std::this_thread::get_id(), caller);
                order.push_back(i);
                ++consumed;
            },
            4);
        std::vector<size_t> expected(50);
        std::iota(expected.begin(), expected.end(), 0);
        EXPECT_EQ(order, expected) << jobs;
        EXPECT_FALSE(beyondWindow) << jobs;
    }
}

// An error in item 7 reaches the caller after items 0..6, as with one worker,
// even when a later item fails first; a consumer's error stops the workers.
TEST(OrderedPipeline, ErrorsSurfaceAtTheirItem)
{
    for (const int jobs : {1, 2, 4}) {
        std::vector<size_t> consumed;
        const auto work = [] {
            return [](size_t i) {
                if (i == 7)
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                if (i == 7 || i == 9)
                    throw std::runtime_error("item " + std::to_string(i));
                return i;
            };
        };
        try {
            RunOrdered(30, jobs, work, [&](size_t i, size_t&) { consumed.push_back(i); });
            ADD_FAILURE() << "no error";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "item 7");
        }
        EXPECT_EQ(consumed, (std::vector<size_t>{0, 1, 2, 3, 4, 5, 6})) << jobs;
        EXPECT_THROW(RunOrdered(1000, jobs, work, [](size_t i, size_t&) {
                         if (i == 3)
                             throw std::logic_error("consumer");
                     }),
                     std::logic_error);
    }
}
