#include "runtime/ThreadId.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace kestrel {

uint64_t CurrentThreadId() {
    thread_local const uint64_t id = static_cast<uint64_t>(::syscall(SYS_gettid));
    return id;
}

}  // namespace kestrel
