// viri_wine_tests.exe <suite> [path of VIRIVOREzu.dll]
// Suites: harness, transport, power, trace. Prints "N passed, N failed" last and exits non-zero when a case failed.
#include "suites.h"

#include <cstdio>
#include <string>

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s harness|transport|power|trace [VIRIVOREzu.dll]\n", argv[0]);
        return 2;
    }
    const std::string suite = argv[1];
    const std::string libraryPath = argc > 2 ? argv[2] : "VIRIVOREzu.dll";
    winetest::TestRunner runner;
    if (suite == "harness") {
        winetest::runHarnessSuite(runner);
        return runner.finish();
    }
    if (suite == "trace") {
        winetest::runTraceSuite(runner, libraryPath);
        return runner.finish();
    }
    if (suite != "transport" && suite != "power") {
        std::fprintf(stderr, "unknown suite %s\n", suite.c_str());
        return 2;
    }
    winetest::UsbPortLibrary library;
    std::string error;
    if (!winetest::loadUsbPortLibrary(libraryPath, library, error)) {
        runner.run("load " + libraryPath, [&](winetest::Checks &checks) { checks.expect(false, error); });
        return runner.finish();
    }
    if (suite == "transport") {
        winetest::runTransportSuite(runner, library);
    } else {
        winetest::runPowerSuite(runner, library);
    }
    return runner.finish();
}
