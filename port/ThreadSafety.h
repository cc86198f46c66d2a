// Clang's thread-safety analysis: which lock guards which field, and which functions need or take which lock.
// The test command builds the library with clang and -Werror=thread-safety; other compilers ignore these.
#pragma once

#if defined(__clang__)
#define VIRI_THREAD_ATTRIBUTE(x) __attribute__((x))
#else
#define VIRI_THREAD_ATTRIBUTE(x)
#endif

#define CAPABILITY(x) VIRI_THREAD_ATTRIBUTE(capability(x))
#define SCOPED_CAPABILITY VIRI_THREAD_ATTRIBUTE(scoped_lockable)
#define GUARDED_BY(x) VIRI_THREAD_ATTRIBUTE(guarded_by(x))
#define PT_GUARDED_BY(x) VIRI_THREAD_ATTRIBUTE(pt_guarded_by(x))
#define ACQUIRED_BEFORE(...) VIRI_THREAD_ATTRIBUTE(acquired_before(__VA_ARGS__))
#define ACQUIRED_AFTER(...) VIRI_THREAD_ATTRIBUTE(acquired_after(__VA_ARGS__))
#define REQUIRES(...) VIRI_THREAD_ATTRIBUTE(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) VIRI_THREAD_ATTRIBUTE(acquire_capability(__VA_ARGS__))
#define RELEASE(...) VIRI_THREAD_ATTRIBUTE(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) VIRI_THREAD_ATTRIBUTE(try_acquire_capability(__VA_ARGS__))
#define EXCLUDES(...) VIRI_THREAD_ATTRIBUTE(locks_excluded(__VA_ARGS__))
#define RETURN_CAPABILITY(x) VIRI_THREAD_ATTRIBUTE(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS VIRI_THREAD_ATTRIBUTE(no_thread_safety_analysis)
