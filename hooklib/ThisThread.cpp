#include "hooklib/ThisThread.h"

#include <cerrno>
#include <cstdint>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace thisthread {
namespace {

// The kernel's struct sched_attr, first version; the C library has no wrapper.
struct SchedulingAttributes {
    uint32_t size = sizeof(SchedulingAttributes);
    uint32_t policy = SCHED_OTHER;
    uint64_t flags = 0;
    int32_t nice = 0;
    uint32_t priority = 0;
    uint64_t runtime = 0; // for SCHED_OTHER since 6.12: the turn asked for
    uint64_t deadline = 0;
    uint64_t period = 0;
};

constexpr uint64_t kResetOnFork = 0x01;
// Long enough for the answer to a press, so that it is seldom cut; the kernel's
// shortest is 0.1 ms.
constexpr uint64_t kShortTurnNanoseconds = 500000;

} // namespace

void AnswerPromptly(LaterThreads later) {
    // The call sets the policy and the niceness too: the thread's own are kept (on
    // Linux both calls ask for the calling thread's, not the process's). A thread
    // the user made real-time or idle is left as it is.
    const int policy = sched_getscheduler(0) & ~SCHED_RESET_ON_FORK;
    if (policy != SCHED_OTHER && policy != SCHED_BATCH)
        return;
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, 0);
    if (errno != 0)
        return;
    SchedulingAttributes attributes;
    attributes.policy = static_cast<uint32_t>(policy);
    attributes.nice = nice;
    attributes.runtime = kShortTurnNanoseconds;
    if (later == LaterThreads::StartPlain)
        attributes.flags |= kResetOnFork;
    syscall(SYS_sched_setattr, 0, &attributes, 0u);
}

void Name(const char* name) {
    pthread_setname_np(pthread_self(), name);
}

} // namespace thisthread
