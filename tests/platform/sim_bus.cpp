// The simulated bus: interface paths, opens, refusals, counts, and the C control API.
#include <algorithm>
#include <cctype>

#include "discovery/SupportedDevices.h"
#include "kernel/faults.h"
#include "kernel/time_scale.h"
#include "sim_test_support.h"

namespace {

using sim_test::SimTest;

using Bus = SimTest;

std::string upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    return text;
}

TEST_F(Bus, pathsCarryTheIdentifiersInTheChosenLetterCaseUnderTheDriversClass) {
    int lower = attach(sim::Transport::Native, sim::LetterCase::Lower);
    int upperCase = attach(sim::Transport::PrinterClass, sim::LetterCase::Upper);
    int mixed = attach(sim::Transport::PrinterClass, sim::LetterCase::Mixed, "7&abc&0&9");
    EXPECT_EQ(0u, sim::interfacePath(lower).find("\\\\?\\usb#vid_0dd4&pid_015d#"));
    EXPECT_NE(std::string::npos, sim::interfacePath(lower).find("#{5d7b9c41-3a8e-4f62-b1d0-9e27c4a6f813}"));
    EXPECT_EQ("\\\\?\\usb#VID_0DD4&PID_015D#", sim::interfacePath(upperCase).substr(0, 26));
    EXPECT_EQ("\\\\?\\usb#vid_0DD4&pid_015D#7&abc&0&9#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}",
              sim::interfacePath(mixed));
    EXPECT_NE(sim::interfacePath(lower), sim::interfacePath(attach(sim::Transport::Native))) << "instances are unique";
}

TEST_F(Bus, opensTheBarePathAndBothPipesWithoutRegardToCase) {
    int id = attach(sim::Transport::Native);
    std::string path = sim::interfacePath(id);
    for (const std::string &name :
         {path, upper(path), path + "\\PIPE00", path + "\\pipe01", "\\\\.\\" + path.substr(4) + "\\PIPE00"}) {
        HANDLE file = open(name);
        EXPECT_NE(INVALID_HANDLE_VALUE, file) << name;
        CloseHandle(file);
    }
    for (const std::string &name : {path + "\\PIPE02", path + "\\", path.substr(0, path.size() - 1), std::string()}) {
        EXPECT_EQ(INVALID_HANDLE_VALUE, open(name)) << name;
        EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), GetLastError()) << name;
    }
    sim::setNotFoundCode(ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(INVALID_HANDLE_VALUE, open(path + "\\PIPE02"));
    EXPECT_EQ(DWORD(ERROR_PATH_NOT_FOUND), GetLastError());
    sim::setNotFoundCode(ERROR_FILE_NOT_FOUND);
}

TEST_F(Bus, countsOpenFilesPerPrinterAndInTotal) {
    int first = attach(sim::Transport::Native);
    int second = attach(sim::Transport::PrinterClass);
    HANDLE a = openPipe(first, "PIPE00");
    HANDLE b = openPipe(first, "PIPE01");
    HANDLE c = openPipe(second, "PIPE00", FILE_FLAG_OVERLAPPED);
    EXPECT_EQ(2, sim::openFiles(first));
    EXPECT_EQ(1, sim::openFiles(second));
    EXPECT_EQ(3, sim::openFiles());
    sim::unplug(first);
    EXPECT_EQ(2, sim::openFiles(first)) << "an unplug kills handles but does not close them";
    CloseHandle(a);
    CloseHandle(b);
    CloseHandle(c);
    EXPECT_EQ(0, sim::openFiles());
}

TEST_F(Bus, aRefusingPrinterFailsOpensWithItsCode) {
    int id = attach(sim::Transport::Native);
    sim::refuseOpens(id, true);
    EXPECT_EQ(INVALID_HANDLE_VALUE, openPipe(id, "PIPE00"));
    EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError());
    sim::ErrorCodes codes;
    codes.openRefused = ERROR_SHARING_VIOLATION;
    sim::setErrorCodes(id, codes);
    EXPECT_EQ(INVALID_HANDLE_VALUE, openPipe(id, "PIPE00"));
    EXPECT_EQ(DWORD(ERROR_SHARING_VIOLATION), GetLastError());
    sim::refuseOpens(id, false);
    HANDLE file = openPipe(id, "PIPE00");
    EXPECT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);
}

TEST_F(Bus, aCustomInstanceGivesPathsLongerThanTheLibrarysBuffer) {
    int id = attach(sim::Transport::PrinterClass, sim::LetterCase::Lower, "6&" + std::string(220, 'a') + "&0&1");
    std::string path = sim::interfacePath(id);
    EXPECT_GT(path.size(), 248u);
    HANDLE file = openPipe(id, "PIPE00");
    EXPECT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);
}

TEST_F(Bus, controlApiReportsUnknownIdsAndResetForgetsEverything) {
    EXPECT_EQ(-1, simbus_attach(2, 1, 1));
    EXPECT_EQ(-1, simbus_attach(0, 0x10000, 1));
    int id = simbus_attach_default(1);
    ASSERT_GT(id, 0);
    EXPECT_NE(std::string::npos, sim::interfacePath(id).find(g_pszSupportedDevices[0]));
    EXPECT_EQ(3, simbus_send(id, "abc", 3));
    EXPECT_EQ(0, simbus_take(id, nullptr, 0));
    EXPECT_EQ(0, simbus_detach(id));
    EXPECT_EQ(-1, simbus_send(id, "abc", 3)) << "an unplugged printer sends nothing";
    EXPECT_EQ(0, simbus_replug(id));
    EXPECT_EQ(-1, simbus_detach(id + 100));
    EXPECT_EQ(-1, simbus_replug(id + 100));
    EXPECT_EQ(-1, simbus_stall_writes(id + 100, 1));
    EXPECT_EQ(-1, simbus_take(id + 100, nullptr, 0));
    EXPECT_EQ(-1, simbus_fail("NoSuchFunction", 1, 5));
    EXPECT_EQ(0, simbus_fail("CreateFileA", 1, ERROR_NOT_READY));
    simbus_time_scale(0.5);

    HANDLE file = openPipe(id, "PIPE00");
    int handles = simbus_open_handles();
    simbus_reset();
    EXPECT_EQ(1.0, platform::timeScale());
    EXPECT_FALSE(sim::isPresent(id));
    EXPECT_EQ(-1, simbus_detach(id)) << "reset forgets the printers";
    EXPECT_EQ(INVALID_HANDLE_VALUE, file) << "the armed fault failed the open";
    EXPECT_EQ(handles, simbus_open_handles());
    file = openPipe(simbus_attach_default(0), "PIPE00");
    EXPECT_NE(INVALID_HANDLE_VALUE, file) << "reset cleared the fault";
    EXPECT_EQ(handles + 1, simbus_open_handles());
    CloseHandle(file);
}

}  // namespace
