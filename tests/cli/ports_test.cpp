// Which port numbers the listing shows, and how entries that lead nowhere are told apart.
#include "ports.h"
#include "temp_dir.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace
{

namespace fs = std::filesystem;
using Folders = kt::link::PosixSerialDevice::Folders;

TEST(Ports, ListsTheSweptNumbersAndHigherEntriesAndTellsWhatIsThere)
{
    const kt::test::TempDir folder("kt4500ctl-ports");
    const std::string dir = folder.str();
    for (const char *name : {"COM3", "COM20", "COM9999", "COM10000", "COM017", "COM0", "COMx",
                             "COM21a", "com22", "LCK..ttyS0"})
        std::ofstream(fs::path(dir) / name) << "";
    fs::create_symlink(fs::path(dir) / "unplugged", fs::path(dir) / "COM4");

    std::vector<int> expected;
    for (int i = 1; i <= 16; ++i)
        expected.push_back(i);
    expected.insert(expected.end(), {20, 9999});
    // The port folder when KT4500_PORT_DIR is set, else the machine-wide one.
    EXPECT_EQ(kt::cli::portNumbersToList(Folders{dir, "/nonexistent", dir}), expected);
    EXPECT_EQ(kt::cli::portNumbersToList(Folders{"", dir, dir}), expected);

    const Folders folders{dir, "/nonexistent", dir};
    const kt::cli::PortReport file = kt::cli::probePort(3, folders);
    EXPECT_EQ(file.state, kt::cli::PortState::Unusable);
    EXPECT_NE(file.detail.find("not a serial port"), std::string::npos) << file.detail;
    EXPECT_EQ(kt::cli::probePort(4, folders).state, kt::cli::PortState::Absent);
    EXPECT_EQ(kt::cli::probePort(5, folders).entry, "");
}

} // namespace
