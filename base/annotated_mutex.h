#pragma once
// A mutex, its scoped lock and a condition variable that clang's thread-safety analysis
// understands. GCC builds the product and ignores the annotations; `make test` compiles
// every unit once more with clang and -Wthread-safety, so state marked SV_GUARDED_BY is
// only touched with its lock held and locks marked SV_ACQUIRED_AFTER are taken in that
// order. std::mutex carries no annotations in libstdc++, which is why these wrap it.
//
// A lambda is analysed on its own, so a wait's predicate that reads guarded state says
// which lock it runs under: `cv_.Wait(lock, [this]() SV_REQUIRES(mutex_) { return ready_; })`.
#include <chrono>
#include <condition_variable>
#include <mutex>

#if defined(__clang__)
#define SV_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define SV_THREAD_ANNOTATION(x)
#endif

#define SV_CAPABILITY(name) SV_THREAD_ANNOTATION(capability(name))
#define SV_SCOPED_CAPABILITY SV_THREAD_ANNOTATION(scoped_lockable)
#define SV_GUARDED_BY(m) SV_THREAD_ANNOTATION(guarded_by(m))
#define SV_PT_GUARDED_BY(m) SV_THREAD_ANNOTATION(pt_guarded_by(m))
#define SV_ACQUIRED_AFTER(...) SV_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define SV_ACQUIRED_BEFORE(...) SV_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define SV_REQUIRES(...) SV_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define SV_EXCLUDES(...) SV_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define SV_ACQUIRE(...) SV_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define SV_RELEASE(...) SV_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define SV_TRY_ACQUIRE(...) SV_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define SV_NO_THREAD_SAFETY_ANALYSIS SV_THREAD_ANNOTATION(no_thread_safety_analysis)

namespace sv {

class SV_CAPABILITY("mutex") Mutex {
public:
    Mutex() = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void Lock() SV_ACQUIRE() { mutex_.lock(); }
    void Unlock() SV_RELEASE() { mutex_.unlock(); }
    bool TryLock() SV_TRY_ACQUIRE(true) { return mutex_.try_lock(); }

private:
    friend class MutexLock;
    std::mutex mutex_;
};

// Holds a Mutex for its scope; Unlock and Lock let go in the middle (around a call that
// must not run under the lock) and take it back.
class SV_SCOPED_CAPABILITY MutexLock {
public:
    explicit MutexLock(Mutex& mutex) SV_ACQUIRE(mutex) : lock_(mutex.mutex_) {}
    ~MutexLock() SV_RELEASE() {}
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

    void Unlock() SV_RELEASE() { lock_.unlock(); }
    void Lock() SV_ACQUIRE() { lock_.lock(); }

private:
    friend class CondVar;
    std::unique_lock<std::mutex> lock_;
};

// Waits release the lock and hold it again on return, as std::condition_variable does;
// the analysis sees the lock held throughout, which is what the caller's code relies on.
class CondVar {
public:
    void Wait(MutexLock& lock) { cv_.wait(lock.lock_); }
    // The predicate runs with the lock held; the waits with a bound give its last value.
    template <class Predicate>
    void Wait(MutexLock& lock, Predicate ready) SV_NO_THREAD_SAFETY_ANALYSIS {
        cv_.wait(lock.lock_, ready);
    }
    template <class Rep, class Period, class Predicate>
    bool WaitFor(MutexLock& lock, const std::chrono::duration<Rep, Period>& limit,
                 Predicate ready) SV_NO_THREAD_SAFETY_ANALYSIS {
        return cv_.wait_for(lock.lock_, limit, ready);
    }
    template <class Clock, class Duration, class Predicate>
    bool WaitUntil(MutexLock& lock, const std::chrono::time_point<Clock, Duration>& deadline,
                   Predicate ready) SV_NO_THREAD_SAFETY_ANALYSIS {
        return cv_.wait_until(lock.lock_, deadline, ready);
    }
    // Without a predicate: false once the bound has passed (the caller looks again).
    template <class Rep, class Period>
    bool WaitFor(MutexLock& lock, const std::chrono::duration<Rep, Period>& limit) {
        return cv_.wait_for(lock.lock_, limit) == std::cv_status::no_timeout;
    }
    void NotifyOne() { cv_.notify_one(); }
    void NotifyAll() { cv_.notify_all(); }

private:
    std::condition_variable cv_;
};

}  // namespace sv
