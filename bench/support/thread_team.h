// A fixed team of threads that run one batch together, again and again:
// the calling thread is member 0, the others are started once and wait
// between batches, so starting threads is never part of a figure.
#pragma once

#include <barrier>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

namespace pc::bench {

class ThreadTeam {
public:
    // `work(member)` is what every member runs in each batch.
    using Work = std::function<void(int member)>;

    explicit ThreadTeam(int members);
    ~ThreadTeam();
    ThreadTeam(const ThreadTeam &) = delete;
    ThreadTeam &operator=(const ThreadTeam &) = delete;

    // Runs `work` on every member at once; returns when all are done, with
    // the wall time in nanoseconds from the common start to the last finish.
    double run(const Work &work);

    int members() const { return members_; }

private:
    void member_loop(int member);

    int members_;
    std::barrier<> start_;
    std::barrier<> finish_;
    const Work *work_ = nullptr;  // set by run() before the start barrier
    bool stopping_ = false;       // likewise
    std::vector<std::thread> threads_;
};

}  // namespace pc::bench
