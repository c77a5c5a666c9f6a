// Clang's thread-safety attributes, checked by -Wthread-safety in the clang builds and
// empty for GCC. They state which lock guards which member, and which functions need a
// lock held, so that a forgotten lock is a compile-time warning rather than a race.
#pragma once

#if defined(__clang__)
#define ZELVIK_THREAD_ATTRIBUTE(x) __attribute__((x))
#else
#define ZELVIK_THREAD_ATTRIBUTE(x)
#endif

#define CAPABILITY(x) ZELVIK_THREAD_ATTRIBUTE(capability(x))
#define SCOPED_CAPABILITY ZELVIK_THREAD_ATTRIBUTE(scoped_lockable)
#define GUARDED_BY(x) ZELVIK_THREAD_ATTRIBUTE(guarded_by(x))
#define PT_GUARDED_BY(x) ZELVIK_THREAD_ATTRIBUTE(pt_guarded_by(x))
#define REQUIRES(...) ZELVIK_THREAD_ATTRIBUTE(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) ZELVIK_THREAD_ATTRIBUTE(locks_excluded(__VA_ARGS__))
#define ACQUIRE(...) ZELVIK_THREAD_ATTRIBUTE(acquire_capability(__VA_ARGS__))
#define RELEASE(...) ZELVIK_THREAD_ATTRIBUTE(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) ZELVIK_THREAD_ATTRIBUTE(try_acquire_capability(__VA_ARGS__))
#define NO_THREAD_SAFETY_ANALYSIS ZELVIK_THREAD_ATTRIBUTE(no_thread_safety_analysis)
