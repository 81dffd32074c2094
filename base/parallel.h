#pragma once

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace sorvik {

// The file descriptors this process may still open: its limit less those open.
int freeDescriptors();

// Runs work(i) for every i in [0, count) on the processor's cores (at most eight
// threads, or `maxThreads`, one for small counts), each thread taking the next
// batch of indices.
// The work of one index must not depend on another's, so the results are those of
// running it in order. An exception in any thread (out of memory) stops the others
// and is thrown here; a thread the system cannot start leaves its share to the rest.
template <class Work>
void forEachIndex(int count, const Work &work, int batch = 32, int maxThreads = 8)
{
    const int threads = std::clamp(std::min({int(std::thread::hardware_concurrency()), count / (4 * batch), maxThreads}), 1, 8);
    std::atomic<int> next{0};
    std::exception_ptr failure;
    std::mutex failureLock;
    const auto run = [&] {
        try {
            for (int first; (first = next.fetch_add(batch)) < count;)
                for (int i = first, end = std::min(count, first + batch); i < end; ++i)
                    work(i);
        } catch (...) {
            const std::lock_guard<std::mutex> lock(failureLock);
            failure = std::current_exception();
            next = count;
        }
    };
    std::vector<std::thread> helpers;
    try {
        for (int t = 1; t < threads; ++t)
            helpers.emplace_back(run);
    } catch (const std::system_error &) {
    }
    run();
    for (std::thread &helper : helpers)
        helper.join();
    if (failure)
        std::rethrow_exception(failure);
}

} // namespace sorvik
