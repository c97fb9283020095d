#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "render/FramePipeline.h"

using namespace mv;

TEST(FramePipeline, HandsBackInJobOrderWithBoundedLookAhead)
{
    unsigned next = 0;
    std::atomic<int> inFlight{0}, maxInFlight{0};
    auto nextJob = [&]() -> std::optional<FrameJob> {
        if (next >= 60)
            return std::nullopt;
        FrameJob j;
        j.index = next;
        next += 2; // a rate of 2
        return j;
    };
    auto render = [&](const FrameJob& job) {
        const int now = ++inFlight;
        for (int m = maxInFlight; now > m && !maxInFlight.compare_exchange_weak(m, now);)
            ;
        std::this_thread::sleep_for(std::chrono::microseconds((job.index * 7919) % 3000)); // out-of-order finish
        --inFlight;
        return RenderedFrame{job.index, job.index % 10 == 4 ? RenderedFrame::Status::NoImage
                                                            : RenderedFrame::Status::Ok, {}};
    };
    FramePipeline pipeline(nextJob, render, 3, 4);
    unsigned expected = 0;
    while (auto f = pipeline.pop()) {
        EXPECT_EQ(f->index, expected);
        EXPECT_EQ(f->status == RenderedFrame::Status::NoImage, expected % 10 == 4);
        expected += 2;
    }
    EXPECT_EQ(expected, 60u);
    EXPECT_LE(maxInFlight, 3);
}

TEST(FramePipeline, CancelEndsPopAndJoins)
{
    std::atomic<unsigned> rendered{0};
    unsigned next = 0;
    FramePipeline pipeline([&]() -> std::optional<FrameJob> {
                               FrameJob j;
                               j.index = next++;
                               return j;
                           },
                           [&](const FrameJob& j) {
                               ++rendered;
                               return RenderedFrame{j.index, RenderedFrame::Status::Ok, {}};
                           },
                           2, 3);
    ASSERT_TRUE(pipeline.pop());
    ASSERT_TRUE(pipeline.pop());
    pipeline.cancel();
    EXPECT_FALSE(pipeline.pop());
    EXPECT_LE(rendered.load(), 2u + 3u + 2u); // an endless list is never run far ahead
}
