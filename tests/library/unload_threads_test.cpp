// JNI_OnUnload with a printer-class link open: once it returns, no thread of the library is left running, so the
// shared object can go.
#include <vector>

#include "kernel/thread_registry.h"
#include "printer_class_fixture.h"
#include "support/java_usb_port.h"

extern "C" JNIEXPORT void JNICALL JNI_OnUnload(JavaVM *vm, void *reserved);

namespace printer_class_test {
namespace {

TEST(LibraryUnload, leavesNoThreadOfTheLibraryRunning) {
    startFromAnEmptyBus();
    size_t before = platform::liveThreadCount();
    int printer = attachPrinterClassPrinter();
    ASSERT_GT(printer, 0);
    fakejni::FakeJvm jvm;
    JavaUsbPort port{jvm};
    ASSERT_EQ(USB_TYPE_PRINTER_CLASS, port.initPipe(static_cast<jint>(GENERIC_WRITE)));
    ASSERT_EQ(USB_TYPE_PRINTER_CLASS, port.initPipe(static_cast<jint>(GENERIC_READ)));
    ASSERT_TRUE(waitUntil([&] { return sim::pendingReads(printer) == 1; }));
    EXPECT_EQ(before + 2, platform::liveThreadCount()) << "the reader and the power thread";

    JNI_OnUnload(nullptr, nullptr);
    EXPECT_EQ(before, platform::liveThreadCount());
    platform::joinFinishedThreads();

    port.closePipe(0);
    ShutdownPowerHandler();
    for (const std::string &problem : jvm.takeProblems()) ADD_FAILURE() << "JNI misuse: " << problem;
    sim::removeAll();
}

}  // namespace
}  // namespace printer_class_test
