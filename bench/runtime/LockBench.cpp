// CRecursiveLock against the standard mutexes, in the same run:
// uncontended, recursive (entered again while held) and contended by two
// threads. The critical section bumps a shared counter.
#include <benchmark/benchmark.h>

#include <mutex>
#include <thread>

#include "runtime/CRecursiveLock.h"

namespace {

template <typename Lock>
struct Ops;

template <>
struct Ops<CRecursiveLock> {
    static void Lock(CRecursiveLock& lock) { lock.Enter(); }
    static void Unlock(CRecursiveLock& lock) { lock.Leave(); }
};

template <typename Mutex>
struct Ops {
    static void Lock(Mutex& mutex) { mutex.lock(); }
    static void Unlock(Mutex& mutex) { mutex.unlock(); }
};

template <typename Lock>
Lock& Shared() {
    static Lock lock;
    return lock;
}

long g_counter = 0;  // guarded by the lock under test

template <typename Lock>
void Uncontended(benchmark::State& state) {
    Lock lock;
    long counter = 0;
    for (auto _ : state) {
        Ops<Lock>::Lock(lock);
        ++counter;
        Ops<Lock>::Unlock(lock);
    }
    benchmark::DoNotOptimize(counter);
}

template <typename Lock>
void Recursive(benchmark::State& state) {
    Lock lock;
    long counter = 0;
    Ops<Lock>::Lock(lock);
    for (auto _ : state) {
        Ops<Lock>::Lock(lock);
        ++counter;
        Ops<Lock>::Unlock(lock);
    }
    Ops<Lock>::Unlock(lock);
    benchmark::DoNotOptimize(counter);
}

template <typename Lock>
void Contended(benchmark::State& state) {
    Lock& lock = Shared<Lock>();
    for (auto _ : state) {
        Ops<Lock>::Lock(lock);
        ++g_counter;
        Ops<Lock>::Unlock(lock);
    }
}

BENCHMARK(Uncontended<CRecursiveLock>)->Name("Uncontended/CRecursiveLock");
BENCHMARK(Uncontended<std::mutex>)->Name("Uncontended/std::mutex");
BENCHMARK(Uncontended<std::recursive_mutex>)->Name("Uncontended/std::recursive_mutex");

BENCHMARK(Recursive<CRecursiveLock>)->Name("Recursive/CRecursiveLock");
BENCHMARK(Recursive<std::recursive_mutex>)->Name("Recursive/std::recursive_mutex");

BENCHMARK(Contended<CRecursiveLock>)->Name("Contended/CRecursiveLock")->Threads(2)->UseRealTime();
BENCHMARK(Contended<std::mutex>)->Name("Contended/std::mutex")->Threads(2)->UseRealTime();
BENCHMARK(Contended<std::recursive_mutex>)->Name("Contended/std::recursive_mutex")->Threads(2)->UseRealTime();

}  // namespace

// glibc takes a std::mutex without an atomic instruction while the process
// has never had a second thread; the driver always has several, so one is
// started (and ended) before anything is measured.
int main(int argc, char** argv) {
    std::thread([] {}).join();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
