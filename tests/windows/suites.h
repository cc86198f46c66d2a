// The test program's suites; main() runs one per process, so that every suite starts with a fresh library.
#pragma once

#include "test_runner.h"
#include "usb_port_library.h"

#include <string>

namespace winetest {

// The simulated printers alone, through the real SetupAPI and CreateFileA: proves the recipe before the library
// is judged by it.
void runHarnessSuite(TestRunner &runner);
// No printer, the road of one receipt on each transport, and last the unload of the library.
void runTransportSuite(TestRunner &runner, UsbPortLibrary &library);
// A suspend and a resume broadcast to the power window (takes the library's 20 s of resume pauses).
void runPowerSuite(TestRunner &runner, const UsbPortLibrary &library);
// The trace switched on through the process environment before the library loads, read back after its unload;
// loads the library itself, since the variable must be set before JNI_OnLoad runs.
void runTraceSuite(TestRunner &runner, const std::string &libraryPath);

}  // namespace winetest
