#pragma once

// Clang's thread-safety analysis (-Wthread-safety): what a lock guards and
// which functions need it held, checked at compile time. Other compilers see
// nothing.
#if defined(__clang__)
#define PALISARD_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define PALISARD_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) PALISARD_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY PALISARD_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) PALISARD_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) PALISARD_THREAD_ANNOTATION(pt_guarded_by(x))
#define ACQUIRE(...) PALISARD_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) PALISARD_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) PALISARD_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define EXCLUSIVE_LOCKS_REQUIRED(...) PALISARD_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define LOCKS_EXCLUDED(...) PALISARD_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define NO_THREAD_SAFETY_ANALYSIS PALISARD_THREAD_ANNOTATION(no_thread_safety_analysis)
