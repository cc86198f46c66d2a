// The names CreateFileA takes for a device interface, as every backend resolves them.
#include <gtest/gtest.h>

#include "files/interface_path.h"

namespace {

const GUID printerClass = {0x28d78fad, 0x5a12, 0x11d1, {0xae, 0x5b, 0x00, 0x00, 0xf8, 0x03, 0xa8, 0xc2}};

TEST(InterfacePath, takesWindowsFormWithTheIdentifiersAsGiven) {
    EXPECT_EQ("vid_0dd4&pid_015d", platform::usbIdentifiers(0xDD4, 0x15D));
    EXPECT_EQ("vid_ffff&pid_0000", platform::usbIdentifiers(-1, 0x10000)) << "only the 16 bits USB has";
    EXPECT_EQ("\\\\?\\usb#VID_0DD4&PID_015D#A1#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}",
              platform::usbInterfacePath("VID_0DD4&PID_015D", "A1", printerClass));
}

TEST(InterfacePath, aNameOpensThePipeItNamesWhateverItsCaseOrPrefix) {
    const std::string path = platform::usbInterfacePath("vid_0dd4&pid_015d", "A1", printerClass);
    std::string upper = path;
    for (char &c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    platform::Pipe pipe = platform::Pipe::Write;

    EXPECT_TRUE(platform::pipeOf(upper, path, pipe));
    EXPECT_EQ(platform::Pipe::Device, pipe);
    EXPECT_TRUE(platform::pipeOf(path + "\\pipe00", path, pipe));
    EXPECT_EQ(platform::Pipe::Read, pipe);
    EXPECT_TRUE(platform::pipeOf(platform::canonicalName("\\\\.\\" + path.substr(4) + "\\PIPE01"), path, pipe));
    EXPECT_EQ(platform::Pipe::Write, pipe);
    EXPECT_EQ("\\\\?\\x", platform::canonicalName("\\\\?\\x"));

    EXPECT_FALSE(platform::pipeOf(path + "\\PIPE02", path, pipe));
    EXPECT_FALSE(platform::pipeOf(path + "x", path, pipe));
    EXPECT_FALSE(platform::pipeOf(path.substr(0, path.size() - 1), path, pipe)) << "a shorter name";
    EXPECT_FALSE(platform::equalsIgnoringCase("a", "ab"));
}

TEST(InterfacePath, theBarePathReadsAndWritesAndEachPipeOnlyItsOwnWay) {
    using platform::IoKind;
    using platform::Pipe;
    const DWORD success = ERROR_SUCCESS;
    const DWORD refused = ERROR_INVALID_FUNCTION;
    EXPECT_EQ(success, platform::pipeRefusal(Pipe::Device, IoKind::Read));
    EXPECT_EQ(success, platform::pipeRefusal(Pipe::Device, IoKind::Write));
    EXPECT_EQ(success, platform::pipeRefusal(Pipe::Read, IoKind::Read));
    EXPECT_EQ(refused, platform::pipeRefusal(Pipe::Read, IoKind::Write));
    EXPECT_EQ(refused, platform::pipeRefusal(Pipe::Write, IoKind::Read));
    EXPECT_EQ(success, platform::pipeRefusal(Pipe::Write, IoKind::Write));
}

}  // namespace
