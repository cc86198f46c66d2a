# What the test programs, and only they, leave in a thread's last error when it releases a critical section: not a
# Windows error code, a value no call of the library ever reports on purpose. The check of the deployable libraries
# looks for it.
set(VIRI_LOCK_RELEASE_JUNK_ERROR 0xbadc0de)
