// Critical sections as the test programs have them: a release overwrites the thread's last error, as one may on
// Windows, so that a caller who reads the error of a failed call only after a release fails here too.
#include "kernel_test_support.h"

using namespace kernel_test;

namespace {

class KernelCriticalSection : public KernelTest {};

TEST_F(KernelCriticalSection, aReleaseInATestProgramLeavesAnotherLastError) {
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    EnterCriticalSection(&section);
    SetLastError(ERROR_FILE_NOT_FOUND);
    LeaveCriticalSection(&section);
    EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    DeleteCriticalSection(&section);
}

}  // namespace
