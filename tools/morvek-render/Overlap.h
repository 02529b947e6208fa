// Two stages of work on a sequence of blocks, on two threads: while one
// block is consumed, the next is produced. Reading a file overlaps the
// library's decoding with the conversion to host pixels; writing overlaps
// the conversion from host pixels with the library's encoding.
#ifndef MORVEK_RENDER_OVERLAP_H
#define MORVEK_RENDER_OVERLAP_H

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace MorvekRender {

// Runs produce(k, buffer) for the blocks k = 0 .. count - 1 on a thread of
// its own and consume(k, buffer) on the calling thread, both in order,
// through two buffers of `bytes` each: block k + 1 is produced while block k
// is consumed. The first exception of either side stops both and is
// rethrown here, after the thread has ended. A single block runs on the
// calling thread alone.
template <class Produce, class Consume>
void overlapBlocks(int count, std::size_t bytes, Produce produce, Consume consume) {
    std::vector<unsigned char> buffers[2];
    buffers[0].resize(bytes);
    if (count <= 1) {
        if (count == 1) {
            produce(0, buffers[0].data());
            consume(0, buffers[0].data());
        }
        return;
    }
    buffers[1].resize(bytes);
    std::mutex lock;
    std::condition_variable changed;
    int produced = 0; // blocks ready to consume
    int consumed = 0; // blocks whose buffer is free again
    bool stop = false;
    std::exception_ptr failure;
    auto fail = [&](const std::exception_ptr& e) {
        {
            std::lock_guard<std::mutex> hold(lock);
            if (!failure) {
                failure = e;
            }
            stop = true;
        }
        changed.notify_all();
    };

    std::thread producer([&] {
        try {
            for (int k = 0; k < count; ++k) {
                {
                    std::unique_lock<std::mutex> hold(lock);
                    changed.wait(hold, [&] { return stop || k - consumed < 2; });
                    if (stop) {
                        return;
                    }
                }
                produce(k, buffers[k % 2].data());
                {
                    std::lock_guard<std::mutex> hold(lock);
                    produced = k + 1;
                }
                changed.notify_all();
            }
        } catch (...) {
            fail(std::current_exception());
        }
    });
    try {
        for (int k = 0; k < count; ++k) {
            {
                std::unique_lock<std::mutex> hold(lock);
                changed.wait(hold, [&] { return stop || produced > k; });
                if (stop) {
                    break;
                }
            }
            consume(k, buffers[k % 2].data());
            {
                std::lock_guard<std::mutex> hold(lock);
                consumed = k + 1;
            }
            changed.notify_all();
        }
    } catch (...) {
        fail(std::current_exception());
    }
    producer.join();
    if (failure) {
        std::rethrow_exception(failure);
    }
}

} // namespace MorvekRender

#endif
