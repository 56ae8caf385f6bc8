#pragma once
// Nothing crosses into the host as an exception. Every operation the host
// calls runs its body through here and answers its failure value instead:
// a bad_alloc, a system_error from a lock or thread, anything.

namespace kestrel {

template <typename R, typename F>
R GuardedCall(R failure, F&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return failure;
    }
}

template <typename F>
void GuardedCall(F&& body) noexcept {
    try {
        body();
    } catch (...) {}
}

}  // namespace kestrel
