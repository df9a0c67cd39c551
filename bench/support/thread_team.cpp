#include "support/thread_team.h"

namespace pc::bench {

ThreadTeam::ThreadTeam(int members) : members_(members), start_(members), finish_(members) {
    for (int m = 1; m < members_; ++m) threads_.emplace_back([this, m] { member_loop(m); });
}

ThreadTeam::~ThreadTeam() {
    stopping_ = true;
    start_.arrive_and_wait();
    for (auto &t : threads_) t.join();
}

void ThreadTeam::member_loop(int member) {
    for (;;) {
        start_.arrive_and_wait();
        if (stopping_) return;
        (*work_)(member);
        finish_.arrive_and_wait();
    }
}

double ThreadTeam::run(const Work &work) {
    work_ = &work;
    start_.arrive_and_wait();
    auto t0 = std::chrono::steady_clock::now();
    work(0);
    finish_.arrive_and_wait();
    return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace pc::bench
