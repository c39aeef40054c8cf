#include "recorder/ThreadPriority.h"

#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace threadpriority {

namespace {

// Enough for the scheduler to prefer the other threads when they wake, not so
// much that encoding starves beside another program's busy loop.
constexpr int kEncoderNice = 5;

} // namespace

// On Linux the nice value belongs to the thread; a failure leaves it as it was.
void LowerCurrentThread() {
    const id_t thread = static_cast<id_t>(gettid());
    const int current = getpriority(PRIO_PROCESS, thread);
    if (current < kEncoderNice)
        setpriority(PRIO_PROCESS, thread, kEncoderNice);
}

void RunLowered(const std::function<void()>& work) {
    std::thread([&work] {
        LowerCurrentThread();
        work();
    }).join();
}

} // namespace threadpriority
