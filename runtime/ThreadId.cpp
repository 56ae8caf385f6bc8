#include "runtime/ThreadId.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace kestrel {

uint64_t CurrentThreadId() {
    // Initial-exec: every lock asks, and from a loaded library the general
    // model goes through the module table instead of one segment-relative load.
    [[gnu::tls_model("initial-exec")]] thread_local const uint64_t id = static_cast<uint64_t>(::syscall(SYS_gettid));
    return id;
}

}  // namespace kestrel
