// JNI_OnUnload with a printer-class link open: once it returns, no thread of the library is left running, so the
// shared object can go.
#include <vector>

#include "kernel/thread_registry.h"
#include "printer_class_fixture.h"
#include "support/java_usb_port.h"

extern "C" JNIEXPORT void JNICALL JNI_OnUnload(JavaVM *vm, void *reserved);

namespace printer_class_test {
namespace {

// With a driver that ignores cancellation too: the reader's pending read then ends only at the cleanup of the read
// handle's close, and a thread does not end before its pending reads have.
TEST(LibraryUnload, leavesNoThreadOfTheLibraryRunning) {
    for (bool ignoresCancels : {false, true}) {
        SCOPED_TRACE(ignoresCancels ? "the driver ignores cancellation" : "the driver honours cancellation");
        startFromAnEmptyBus();
        size_t before = platform::liveThreadCount();
        int printer = attachPrinterClassPrinter();
        ASSERT_GT(printer, 0);
        ASSERT_TRUE(sim::ignoreCancels(printer, ignoresCancels));
        fakejni::FakeJvm jvm;
        JavaUsbPort port{jvm};
        ASSERT_EQ(USB_TYPE_PRINTER_CLASS, port.initPipe(static_cast<jint>(GENERIC_WRITE)));
        ASSERT_EQ(USB_TYPE_PRINTER_CLASS, port.initPipe(static_cast<jint>(GENERIC_READ)));
        ASSERT_TRUE(waitUntil([&] { return sim::pendingReads(printer) == 1; }));
        EXPECT_EQ(before + 2, platform::liveThreadCount()) << "the reader and the power thread";

        JNI_OnUnload(nullptr, nullptr);
        EXPECT_EQ(before, platform::liveThreadCount());
        EXPECT_EQ(0u, sim::pendingReads(printer)) << "a read of the library's is left in the driver";
        platform::joinFinishedThreads();

        port.closePipe(0);
        ShutdownPowerHandler();
        for (const std::string &problem : jvm.takeProblems()) ADD_FAILURE() << "JNI misuse: " << problem;
        sim::removeAll();
    }
}

}  // namespace
}  // namespace printer_class_test
