// Worker threads for iterate_generic.
#include "WorkerPool.h"

#include "HostImpl.h"

#include <exception>
#include <set>

namespace standin {

namespace {
thread_local const WorkerPool* tl_pool = nullptr;
thread_local int tl_workerIndex = 0;
} // namespace

struct WorkerPool::Job {
    A_long total = 0;
    A_long next = 0;
    A_long done = 0;
    void* refcon = nullptr;
    PF_IterateGenericFunc fn = nullptr;
    CommandRef command;
    std::vector<PF_Err> errs;
    std::vector<int> counts;
    std::set<std::thread::id> threads;
    std::vector<std::string> notes;
    std::condition_variable finished;
};

WorkerPool::WorkerPool(Host& host, int threads) : host_(host) {
    if (threads < 1) {
        threads = 1;
    }
    threads_.reserve(threads);
    for (int i = 0; i < threads; ++i) {
        threads_.emplace_back([this, i] { work(i); });
    }
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard<std::mutex> lock(mu_);
        stop_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : threads_) {
        t.join();
    }
}

void WorkerPool::runOne(Job& job, A_long i, int threadIndex, PF_Err& err, std::string& note) {
    const CommandScope command(job.command);
    try {
        err = job.fn(job.refcon, threadIndex, i, job.total);
    } catch (const std::exception& e) {
        err = PF_Err_INTERNAL_STRUCT_DAMAGED;
        note = std::string("iterate callback threw: ") + e.what();
    } catch (...) {
        err = PF_Err_INTERNAL_STRUCT_DAMAGED;
        note = "iterate callback threw a non-standard exception";
    }
}

void WorkerPool::work(int index) {
    tl_pool = this;
    tl_workerIndex = index;
    Host::Scope scope(host_);
    std::unique_lock<std::mutex> lock(mu_);
    for (;;) {
        wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
        if (queue_.empty()) {
            return; // stopping
        }
        Job* job = queue_.front();
        const A_long i = job->next++;
        if (job->next >= job->total) {
            queue_.pop_front();
        }
        lock.unlock();
        PF_Err err = PF_Err_NONE;
        std::string note;
        runOne(*job, i, index, err, note);
        lock.lock();
        job->errs[i] = err;
        job->counts[i] += 1;
        job->threads.insert(std::this_thread::get_id());
        if (!note.empty()) {
            job->notes.push_back(note);
        }
        if (++job->done == job->total) {
            job->finished.notify_all();
        }
    }
}

WorkerPool::Result WorkerPool::run(A_long iterations, void* refcon, PF_IterateGenericFunc fn,
                                   const CommandRef& command) {
    Job job;
    job.total = iterations;
    job.refcon = refcon;
    job.fn = fn;
    job.command = command;
    job.errs.assign(iterations, PF_Err_NONE);
    job.counts.assign(iterations, 0);

    if (tl_pool == this) {
        // Nested iteration from a worker: waiting for the other workers could
        // deadlock, so this worker runs every index itself.
        for (A_long i = 0; i < iterations; ++i) {
            std::string note;
            runOne(job, i, tl_workerIndex, job.errs[i], note);
            job.counts[i] += 1;
            if (!note.empty()) {
                job.notes.push_back(note);
            }
        }
        job.threads.insert(std::this_thread::get_id());
    } else if (iterations > 0) {
        std::unique_lock<std::mutex> lock(mu_);
        queue_.push_back(&job);
        wake_.notify_all();
        job.finished.wait(lock, [&job] { return job.done == job.total; });
    }

    Result result;
    for (PF_Err e : job.errs) {
        if (e != PF_Err_NONE) {
            result.err = e;
            break;
        }
    }
    result.counts = std::move(job.counts);
    result.threadsUsed = static_cast<int>(job.threads.size());
    result.notes = std::move(job.notes);
    return result;
}

} // namespace standin
