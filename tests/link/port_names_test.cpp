#include "link/posix/port_names.h"
#include "temp_dir.h"

#include <climits>
#include <fstream>
#include <gtest/gtest.h>

using namespace kt::link;
using kt::test::TempDir;

namespace
{
void makeEntry(const std::filesystem::path &path, const std::string &target)
{
    std::filesystem::create_symlink(target, path);
}
} // namespace

TEST(PortDevicePath, FollowsPortDirThenEtcThenTable)
{
    TempDir portDir;
    TempDir etcDir;
    makeEntry(portDir.path() / "COM3", "/dev/pts/7");
    makeEntry(portDir.path() / "COM20", "/nowhere/unplugged"); // a dangling link still counts
    makeEntry(etcDir.path() / "COM5", "/dev/serial/by-id/usb-converter");
    std::ofstream(etcDir.path() / "COM14").put('x');
    const std::string pd = portDir.str();
    const std::string ed = etcDir.str();

    const struct {
        int number;
        std::string portDir;
        std::string etcDir;
        std::optional<std::string> expected;
    } cases[] = {
        {3, pd, ed, pd + "/COM3"},
        {3, pd + "/", ed, pd + "/COM3"},
        {20, pd, ed, pd + "/COM20"},
        {1, pd, ed, std::nullopt}, // with the variable set, only its entries exist
        {5, pd, ed, std::nullopt},
        {5, "", ed, ed + "/COM5"},
        {14, "", ed, ed + "/COM14"},
        {1, "", ed, "/dev/ttyS0"},
        {4, "", ed, "/dev/ttyS3"},
        {5, "", "", "/dev/ttyUSB0"},
        {12, "", ed, "/dev/ttyUSB7"},
        {13, "", ed, "/dev/ttyACM0"},
        {16, "", ed, "/dev/ttyACM3"},
        {17, "", ed, std::nullopt},
        {0, "", ed, std::nullopt},
        {-1, "", ed, std::nullopt},
        {INT_MIN, "", ed, std::nullopt},
        {INT_MAX, "", ed, std::nullopt},
        {0, pd, ed, std::nullopt},
        {3, "", ed + "/missing", "/dev/ttyS2"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.number) + " dir=" + c.portDir + " etc=" + c.etcDir);
        EXPECT_EQ(portDevicePath(c.number, c.portDir, c.etcDir), c.expected);
    }
}

TEST(UucpLockName, NamesTheDeviceBelowDev)
{
    const struct {
        const char *path;
        const char *name;
    } cases[] = {
        {"/dev/ttyUSB0", "LCK..ttyUSB0"},
        {"/dev/pts/3", "LCK..pts_3"},
        {"/dev/serial/by-id/usb-x", "LCK..serial_by-id_usb-x"},
        {"/tmp/ports/COM3", "LCK..COM3"},
        {"ttyS0", "LCK..ttyS0"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(uucpLockName(c.path), c.name);
    }
}
