// The window and kt4500ctl run the same procedures, so the reader must hear the same frames
// from both: each operation runs once through a recording window view in this process and
// once as kt4500ctl, each against a simulator of its own, and the two frame logs are compared.
#include "ctl_process.h"
#include "fake_view.h"
#include "link/posix/serial_device_posix.h"
#include "link/reader_link.h"
#include "ops/operations.h"
#include "settings/app_settings.h"
#include "settings/posix/reg_file_store.h"
#include "sim_process.h"
#include "text/text_table.h"

#include <cctype>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sstream>

namespace
{

using kt::sim::SimProcess;
using kt::test::FakeView;

constexpr const char *kEmptyKey =
    "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\TALVO\\ReaderConfig]\n";
constexpr const char *kStoredCom3 =
    "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\TALVO\\ReaderConfig]\n"
    "\"ScanCommNo\"=dword:00000003\n\"ScanBaudRateNo\"=dword:00000005\n"
    "\"ScanBaudRate\"=\"19200,e,8,1\"\n\"LanguageFlag\"=\"English\"\n";

// What the simulator heard, in order, without the times: "rx 09 41 30 30 42 30 41 0D |...|".
std::vector<std::string> framesHeard(const std::string &log)
{
    std::vector<std::string> frames;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) {
        const std::size_t rx = line.find(" rx ");
        if (rx != std::string::npos)
            frames.push_back(line.substr(rx + 1));
    }
    return frames;
}

struct Case {
    const char *name;
    const char *settings;
    std::vector<std::string> simArgs;
    // What a person does in the window; every operation there needs a scan first.
    std::function<void(kt::ops::Context &, FakeView &)> window;
    std::vector<std::string> ctlArgs;
};

void PrintTo(const Case &c, std::ostream *os)
{
    *os << c.name;
}

class SameBytes : public ::testing::TestWithParam<Case>
{
protected:
    static std::string settingsPath(const SimProcess &sim)
    {
        return sim.dir() + "/ReaderConfig.reg";
    }
};

TEST_P(SameBytes, AsTheWindow)
{
    const Case &c = GetParam();
    kt::text::setLanguage(kt::text::Language::English);

    std::vector<std::string> windowFrames;
    {
        SimProcess sim(c.simArgs);
        ASSERT_TRUE(sim.isRunning());
        std::ofstream(settingsPath(sim)) << c.settings;
        kt::settings::RegFileStore store(settingsPath(sim));
        kt::settings::AppSettings settings = kt::settings::loadSettings(store).settings;
        kt::link::PosixSerialDevice device({sim.portDir(), sim.dir() + "/etc", "/run/lock"});
        kt::link::ReaderLink link(device, kt::link::systemClock());
        FakeView view;
        kt::ops::ReaderState state;
        kt::ops::Context ctx{link, view, settings, state};
        c.window(ctx, view);
        windowFrames = framesHeard(sim.log());
    }
    ASSERT_FALSE(windowFrames.empty());

    SimProcess sim(c.simArgs);
    ASSERT_TRUE(sim.isRunning());
    std::ofstream(settingsPath(sim)) << c.settings;
    const kt::test::CtlRun run = kt::test::runCtl(
        c.ctlArgs,
        {{{"KT4500_PORT_DIR", sim.portDir()}, {"KT4500_SETTINGS", settingsPath(sim)}}, {}});
    EXPECT_NE(run.status, -1) << run.err;
    EXPECT_EQ(framesHeard(sim.log()), windowFrames) << run.out << run.err;
}

const Case kCases[] = {
    {"scan by the sweep",
     kEmptyKey,
     {},
     [](kt::ops::Context &ctx, FakeView &) { kt::ops::scanReader(ctx); },
     {"scan"}},
    {"scan on every line setting",
     kEmptyKey,
     {"--line", "9"},
     [](kt::ops::Context &ctx, FakeView &view) {
         view.lockChecked = false;
         kt::ops::scanReader(ctx);
     },
     {"scan", "--all-line-settings"}},
    {"set the reader ID",
     kStoredCom3,
     {},
     [](kt::ops::Context &ctx, FakeView &view) {
         kt::ops::scanReader(ctx);
         view.setIdPosition(7);
         kt::ops::setReaderId(ctx);
     },
     {"set-id", "7"}},
    {"a preset",
     kStoredCom3,
     {},
     [](kt::ops::Context &ctx, FakeView &) {
         kt::ops::scanReader(ctx);
         kt::ops::applyPreset(ctx, kt::ops::Preset::RS485Fast);
     },
     {"preset", "rs485-115200"}},
    // The reader listens at another speed: the window's scan fails and its button then sends
    // nothing; the program's check of the reader fails the same way.
    {"no reader at the stored line settings",
     kStoredCom3,
     {"--line", "3"},
     [](kt::ops::Context &ctx, FakeView &view) {
         kt::ops::scanReader(ctx);
         view.setIdPosition(7);
         kt::ops::setReaderId(ctx);
     },
     {"set-id", "7"}},
};

std::string caseName(const ::testing::TestParamInfo<Case> &param)
{
    std::string name;
    for (const char *p = param.param.name; *p != '\0'; ++p)
        name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Operations, SameBytes, ::testing::ValuesIn(kCases), caseName);

} // namespace
