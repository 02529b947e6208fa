// The worker threads behind the iterate suite: a fixed set of threads that
// run the indices of iterate_generic jobs, each index exactly once.
#ifndef STANDIN_WORKERPOOL_H
#define STANDIN_WORKERPOOL_H

#include "HostAPI.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace standin {

class Host;
struct CommandRef;

class WorkerPool {
public:
    // Starts `threads` workers (at least one); each makes `host` current.
    WorkerPool(Host& host, int threads);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    struct Result {
        PF_Err err = PF_Err_NONE;       // first non-zero callback result, by index
        std::vector<int> counts;        // runs per index
        int threadsUsed = 0;            // distinct threads that ran an index
        std::vector<std::string> notes; // exceptions thrown by the callback
    };
    // Runs fn for i in 0..iterations-1 and returns when every call is done;
    // host calls made by fn belong to `command`. Called from one of this
    // pool's own workers, it runs the indices inline.
    Result run(A_long iterations, void* refcon, PF_IterateGenericFunc fn, const CommandRef& command);

    int size() const { return static_cast<int>(threads_.size()); }

private:
    struct Job;
    void work(int index);
    static void runOne(Job& job, A_long i, int threadIndex, PF_Err& err, std::string& note);

    Host& host_;
    std::mutex mu_;
    std::condition_variable wake_;
    std::deque<Job*> queue_;
    bool stop_ = false;
    std::vector<std::thread> threads_;
};

} // namespace standin

#endif
