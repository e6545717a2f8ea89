// Clang's thread-safety annotations: with -Wthread-safety the compiler proves that every field marked
// GUARDED_BY is touched only with its lock held. Other compilers see nothing. Kept beside the platform
// layer because, like it, it is the one place that asks which toolchain builds the library.
#pragma once

#if defined(__clang__)
#define PEKOLM_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define PEKOLM_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(name) PEKOLM_THREAD_ANNOTATION(capability(name))
#define SCOPED_CAPABILITY PEKOLM_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(lock) PEKOLM_THREAD_ANNOTATION(guarded_by(lock))
#define REQUIRES(...) PEKOLM_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) PEKOLM_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) PEKOLM_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) PEKOLM_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define EXCLUDES(...) PEKOLM_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define NO_THREAD_SAFETY_ANALYSIS PEKOLM_THREAD_ANNOTATION(no_thread_safety_analysis)
