// kt4500ctl as a technician runs it, against kt4500-sim on a pseudo-terminal: what it prints,
// what the reader then holds, what is stored, and the exit status.
#include "ctl_process.h"
#include "link/posix/serial_device_posix.h"
#include "report.h"
#include "sim_process.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

namespace
{

using kt::sim::SimProcess;
using kt::test::CtlOptions;
using kt::test::CtlProcess;
using kt::test::CtlRun;

// A key that exists but holds nothing: the defaults apply, 19200,e,8,1 among them.
constexpr const char *kEmptyKey =
    "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\TALVO\\ReaderConfig]\n";
constexpr const char *kCard = "Card ID : 0012345678  00BC614E(H)";
constexpr const char *kPollFrame = "rx 09 41 30 30 46 30 45 0D";

int occurrences(const std::string &text, const std::string &part)
{
    int n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

QJsonObject json(const std::string &line)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << line;
    return doc.object();
}

class CtlSim : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(sim.isRunning());
        std::ofstream(settingsPath) << kEmptyKey;
    }

    CtlOptions options() const
    {
        return {{{"KT4500_PORT_DIR", sim.portDir()}, {"KT4500_SETTINGS", settingsPath}}, {}};
    }
    CtlRun ctl(const std::vector<std::string> &args) const
    {
        return kt::test::runCtl(args, options());
    }
    std::string stored() const
    {
        std::ifstream in(settingsPath);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }
    kt::link::PosixSerialDevice device() const
    {
        return kt::link::PosixSerialDevice({sim.portDir(), sim.dir() + "/etc", "/run/lock"});
    }

    SimProcess sim;
    std::string settingsPath = sim.dir() + "/ReaderConfig.reg";
};

TEST_F(CtlSim, ScanSetIdAndReadCardsWorkAsInTheWindow)
{
    const CtlRun scan = ctl({"scan"});
    EXPECT_EQ(scan.status, 0) << scan.err;
    EXPECT_EQ(scan.lines,
              (std::vector<std::string>{"Get Reader Info Ok. (COM : #3)", "S/N : 12345678",
                                        "VER : 03.20-01", "ID : 01", "BaudRate : 19200,e,8,1",
                                        "Wiegand, Wiegand 26, RS485 32"}));
    EXPECT_NE(stored().find("\"ScanCommNo\"=dword:00000003"), std::string::npos) << stored();

    const std::string saved = stored();
    const CtlRun setId = ctl({"set-id", "7"});
    EXPECT_EQ(setId.status, 0) << setId.err;
    EXPECT_EQ(setId.lines, std::vector<std::string>{"Set Reader ID Ok"});
    EXPECT_NE(sim.command("state").find("id 07"), std::string::npos);
    EXPECT_EQ(stored(), saved) << "only the scan saves";

    ASSERT_EQ(sim.command("card 00BC614E"), "ok card 00BC614E");
    const CtlRun cards = ctl({"read-cards", "--count", "1"});
    EXPECT_EQ(cards.status, 0) << cards.err;
    EXPECT_EQ(cards.lines, std::vector<std::string>{kCard});
    EXPECT_EQ(occurrences(sim.log(), kPollFrame), 1) << "no poll after the counted card";
    EXPECT_EQ(scan.err + setId.err + cards.err, "");
}

TEST_F(CtlSim, CommandsChangeTheReaderAndTheLineSettingsFollowItOnlyWhenAsked)
{
    const struct {
        std::vector<std::string> args;
        int status;
        const char *line;
        const char *state;
    } steps[] = {
        {{"scan"}, 0, "Get Reader Info Ok. (COM : #3)", "id 01 mode 001 line 5"},
        {{"set-mode", "--output", "rs485", "--wiegand", "42", "--rs485", "24"},
         0,
         "Set Reader Mode Ok",
         "mode 120"},
        {{"set-id", "42"}, 0, "Set Reader ID Ok", "id 42 mode 120"},
        {{"preset", "wiegand34"}, 0, "Set Default Wiegand 34 Ok", "id 01 mode 011 line 5"},
        {{"set-line-settings", "115200,e,8,1"}, 0, "Set Reader BaudRate Ok", "line 11"},
        // The stored settings still say 19200: the reader is out of reach ...
        {{"set-id", "3"}, 1, "Reader Not Find", "id 01"},
        // ... unless the run says where it is, or a scan on every line setting finds it.
        {{"--line-settings", "11", "set-id", "4"}, 0, "Set Reader ID Ok", "id 04"},
        {{"scan", "--all-line-settings"}, 0, "Get Reader Info Ok. (COM : #3)", "line 11"},
        {{"preset", "rs485-24"}, 0, "Set Default RS485 24 Ok", "id 01 mode 100 line 5"},
    };
    for (const auto &step : steps) {
        SCOPED_TRACE(step.line);
        const CtlRun run = ctl(step.args);
        EXPECT_EQ(run.status, step.status) << run.err;
        ASSERT_FALSE(run.lines.empty()) << run.err;
        EXPECT_EQ(run.lines[0], step.line);
        EXPECT_NE(sim.command("state").find(step.state), std::string::npos);
    }
    // A pseudo-terminal carries no parity, so the search took 115200,n,8,1, the first.
    EXPECT_NE(stored().find("\"ScanBaudRateNo\"=dword:0000000a"), std::string::npos) << stored();
}

TEST_F(CtlSim, JsonGivesTheReaderAndTheTextsInTheAskedLanguage)
{
    const CtlRun scan = ctl({"--json", "scan"});
    ASSERT_EQ(scan.lines.size(), 1u) << scan.out;
    const QJsonObject reader = json(scan.lines[0]);
    EXPECT_TRUE(reader.value("ok").toBool());
    EXPECT_EQ(reader.value("serialNumber").toString(), "12345678");
    EXPECT_EQ(reader.value("version").toString(), "03.20-01");
    EXPECT_EQ(reader.value("rs485").toInt(), 32);

    const CtlRun chinese = ctl({"--json", "--lang", "zh-TW", "set-id", "5"});
    ASSERT_EQ(chinese.lines.size(), 1u);
    EXPECT_EQ(json(chinese.lines[0]).value("message").toString(),
              QString::fromUtf8("設定讀卡機編號完成"));
}

TEST_F(CtlSim, TheExitStatusAndStandardErrorSayWhatWentWrong)
{
    ASSERT_EQ(ctl({"scan"}).status, 0);
    const CtlRun usage = ctl({"set-id", "100"});
    EXPECT_EQ(usage.status, 2);
    EXPECT_EQ(usage.out, "");
    EXPECT_NE(usage.err.find("from 1 to 99"), std::string::npos);

    // Every outcome is one JSON object with --json, a usage error too.
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"--json", "set-id", "100"}, {"help", "bogus", "--json"}}) {
        const CtlRun asJson = ctl(args);
        EXPECT_EQ(asJson.status, 2);
        ASSERT_EQ(asJson.lines.size(), 1u) << asJson.out;
        EXPECT_FALSE(json(asJson.lines[0]).value("ok").toBool(true));
        EXPECT_FALSE(json(asJson.lines[0]).value("message").toString().isEmpty());
    }

    // Output that could not be written is a failed run, after everything else was done.
    for (kt::test::Stdout to : {kt::test::Stdout::DevFull, kt::test::Stdout::ClosedPipe}) {
        CtlOptions lost = options();
        lost.stdoutTo = to;
        for (const std::vector<std::string> &args :
             {std::vector<std::string>{"ports"}, {"--json", "scan"}, {"--help"}}) {
            SCOPED_TRACE(args[0]);
            const CtlRun run = kt::test::runCtl(args, lost);
            EXPECT_EQ(run.status, 1);
            EXPECT_NE(run.err.find("writing standard output failed"), std::string::npos) << run.err;
        }
    }

    const CtlRun noPort = ctl({"--port", "9", "set-id", "4"});
    EXPECT_EQ(noPort.status, 3);
    EXPECT_NE(noPort.err.find("COM9: no such port"), std::string::npos) << noPort.err;

    sim.command("silent on");
    const CtlRun silent = ctl({"set-id", "4"});
    EXPECT_EQ(silent.status, 1);
    EXPECT_NE(silent.err.find("no reader answered on COM3"), std::string::npos) << silent.err;
    sim.command("silent off");

    kt::link::PosixSerialDevice holder = device();
    ASSERT_TRUE(holder.open(3, "19200,e,8,1"));
    const CtlRun busy = ctl({"read-cards"});
    EXPECT_EQ(busy.status, 3);
    // The holder is found by its flock and named.
    EXPECT_NE(busy.err.find("COM3 (" + sim.linkPath() + ") is held by cli_sim_test (process "
                            + std::to_string(::getpid()) + ")"),
              std::string::npos)
        << busy.err;
    const CtlRun ports = ctl({"ports"});
    ASSERT_EQ(ports.lines.size(), 16u) << ports.out;
    EXPECT_EQ(ports.lines[0], "COM1    -  absent");
    EXPECT_EQ(ports.lines[2].rfind("COM3    " + sim.linkPath() + " -> /dev/pts/", 0), 0u);
    EXPECT_NE(ports.lines[2].find("  busy (held by another program)"), std::string::npos);
    holder.close();
    const CtlRun free = ctl({"--json", "ports", "--port", "3"});
    ASSERT_EQ(free.lines.size(), 1u);
    EXPECT_EQ(json(free.lines[0]).value("status").toString(), "present");
}

// Started with a standard descriptor closed (cron, a service unit, ">&-"), the program must
// not open the port on it: its output and log lines would go out on the serial line.
TEST_F(CtlSim, AClosedStandardDescriptorNeverBecomesThePort)
{
    ASSERT_EQ(ctl({"scan"}).status, 0);
    ASSERT_EQ(sim.command("card 00BC614E"), "ok card 00BC614E");
    for (int closed = 0; closed <= 2; ++closed) {
        SCOPED_TRACE("descriptor " + std::to_string(closed) + " closed");
        CtlOptions withClosed = options();
        withClosed.closedDescriptor = closed;
        // Each card line is written while the port is open; the next poll follows it.
        const CtlRun run =
            kt::test::runCtl({"--verbose", "read-cards", "--count", "2"}, withClosed);
        EXPECT_EQ(run.status, 0) << run.err;
        if (closed != 1) {
            EXPECT_EQ(run.lines, (std::vector<std::string>{kCard, kCard}));
        }
        EXPECT_EQ(sim.log().find("ignored"), std::string::npos)
            << "the reader got bytes that are no frame:\n"
            << sim.log();
    }
}

TEST_F(CtlSim, APortThatIsNotPermittedNamesTheDeviceAndTheDialoutGroup)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "the pseudo-terminal is this user's; only root can run the program as "
                        "another user";
    std::filesystem::permissions(sim.dir(), std::filesystem::perms(0755));
    std::filesystem::permissions(sim.portDir(), std::filesystem::perms(0755));
    CtlOptions asNobody = options();
    asNobody.user = 65534;
    if (kt::test::runCtl({"--version"}, asNobody).status != 0)
        GTEST_SKIP() << "the build folder is closed to other users";

    const CtlRun run = kt::test::runCtl({"--port", "3", "set-id", "4"}, asNobody);
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.err.find("COM3 (" + sim.linkPath() + "): permission denied"), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("dialout group"), std::string::npos);
    const CtlRun ports = kt::test::runCtl({"ports", "--port", "3"}, asNobody);
    ASSERT_EQ(ports.lines.size(), 1u) << ports.err;
    EXPECT_NE(ports.lines[0].find("not permitted"), std::string::npos);
}

TEST_F(CtlSim, AnInterruptStopsReadCardsAsTheCancelButtonDoes)
{
    ASSERT_EQ(ctl({"scan"}).status, 0);
    ASSERT_EQ(sim.command("card 00BC614E"), "ok card 00BC614E");
    for (int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(strsignal(signal));
        const int pollsBefore = occurrences(sim.log(), kPollFrame);
        CtlProcess reading({"read-cards", "--every-poll"}, options());
        ASSERT_TRUE(reading.waitForLines(2)) << reading.err();
        const std::size_t shown = reading.outLines().size();
        reading.signal(signal);
        EXPECT_EQ(reading.wait(), 0) << reading.err();
        const std::vector<std::string> lines = reading.outLines();
        // The pass in progress ends with its poll, which shows the card once more, and every
        // poll was shown: none came after the last card.
        EXPECT_GT(lines.size(), shown);
        EXPECT_TRUE(std::all_of(lines.begin(), lines.end(), [](auto &l) { return l == kCard; }));
        EXPECT_EQ(occurrences(sim.log(), kPollFrame) - pollsBefore, static_cast<int>(lines.size()));
    }
    kt::link::PosixSerialDevice after = device();
    EXPECT_TRUE(after.open(3, "19200,e,8,1")) << "the port was left: " << after.openError().text();
}

TEST_F(CtlSim, ReadCardsEndsByItselfWhenTimeIsUpOrTheReaderGoes)
{
    ASSERT_EQ(ctl({"scan"}).status, 0);
    const CtlRun timed = ctl({"read-cards", "--seconds", "0.5"});
    EXPECT_EQ(timed.status, 0) << timed.err;
    EXPECT_EQ(timed.out, "") << "no card was presented";

    ASSERT_EQ(sim.command("card 00BC614E"), "ok card 00BC614E");
    CtlProcess reading({"read-cards"}, options());
    ASSERT_TRUE(reading.waitForLines(1)) << reading.err();
    ASSERT_EQ(sim.command("hangup"), "ok hangup");
    EXPECT_EQ(reading.wait(), 1) << reading.err();
    EXPECT_EQ(reading.outLines().back(), "Reader Not Find");
    EXPECT_NE(reading.err().find("kt4500ctl: COM3: the port hung up (converter unplugged?)\n"),
              std::string::npos)
        << reading.err();
}

TEST_F(CtlSim, AProgramThatSharesThePortWithoutALockIsNamedWithoutVerbose)
{
    // As socat or picocom --nolock would: the port open, no lock taken.
    const int other = ::open(sim.linkPath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0) << std::strerror(errno);
    std::string name;
    std::getline(std::ifstream("/proc/self/comm"), name);
    const std::string warning = "kt4500ctl: COM3 is also open in " + name + " (process "
                                + std::to_string(::getpid()) + "); its replies may go there\n";
    // The scan opens the port twice; the warning comes once.
    const CtlRun scan = ctl({"scan"});
    ::close(other);
    EXPECT_EQ(scan.status, 0) << scan.err;
    EXPECT_EQ(occurrences(scan.err, warning), 1) << scan.err;
    EXPECT_EQ(ctl({"scan"}).err, "") << "nobody else has the port open";
}

std::vector<std::vector<std::string>> reportRows(const std::string &path)
{
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return kt::cli::parseCsv(text.str());
}

TEST_F(CtlSim, WithNoLineSettingsStoredTheOutcomeNamesThoseOfThePort)
{
    std::filesystem::remove(settingsPath);
    {
        kt::link::PosixSerialDevice earlier = device(); // the line keeps them after close
        ASSERT_TRUE(earlier.open(3, "19200,e,8,1"));
    }
    const CtlRun scan = ctl({"--json", "--port", "3", "scan"});
    EXPECT_EQ(scan.status, 0) << scan.err;
    ASSERT_EQ(scan.lines.size(), 1u) << scan.out;
    // A pseudo-terminal carries no parity.
    EXPECT_EQ(json(scan.lines[0]).value("lineSettings").toString(), "19200,n,8,1");
    const CtlRun plain = ctl({"--port", "3", "scan"});
    ASSERT_EQ(plain.lines.size(), 6u) << plain.out;
    EXPECT_EQ(plain.lines[4], "BaudRate : 19200,n,8,1");
}

TEST_F(CtlSim, ProvisionGivesEachReaderOfTheBoxTheNextId)
{
    // Nothing stored: a reader fresh from its box is looked for at its factory settings.
    std::filesystem::remove(settingsPath);
    const std::string report = sim.dir() + "/site.csv";
    CtlProcess provision({"provision", "--port", "3", "--ids", "1-3", "--report", report},
                         options());
    const char *const next[] = {"plug 22222222 4", "plug 33333333 9"};
    for (std::size_t i = 0; i < 3; ++i) {
        ASSERT_TRUE(provision.waitForLines(i + 1)) << provision.err();
        if (i < 2) {
            ASSERT_EQ(sim.command("unplug"), "ok unplug");
            ASSERT_EQ(sim.command(next[i]).rfind("ok plug", 0), 0u);
        }
    }
    EXPECT_EQ(provision.wait(), 0) << provision.err();
    EXPECT_EQ(provision.outLines(), (std::vector<std::string>{
                                        "12345678: ID 01, mode 001, 19200,e,8,1: ok",
                                        "22222222: ID 02 (was 04), mode 001, 19200,e,8,1: ok",
                                        "33333333: ID 03 (was 09), mode 001, 19200,e,8,1: ok",
                                    }));
    const auto rows = reportRows(report);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"time", "port", "serial", "version", "id_before",
                                                 "id_after", "mode_before", "mode_after",
                                                 "line_settings", "outcome"}));
    for (std::size_t i = 1; i < rows.size(); ++i) {
        ASSERT_EQ(rows[i].size(), 10u);
        EXPECT_EQ(rows[i][1], "COM3");
        EXPECT_EQ(rows[i][5], "0" + std::to_string(i));
        EXPECT_EQ(rows[i][9], "ok");
    }
    EXPECT_EQ(sim.command("state").substr(0, 5), "id 03");
}

TEST_F(CtlSim, ProvisionTakesReadersAtAnyLineSettingsAndKeepsIdsForTheNextAfterAFailure)
{
    const std::string report = sim.dir() + "/site.csv";
    ASSERT_EQ(sim.command("plug 33333333 9 11"), "ok plug 33333333");
    CtlProcess first({"provision", "--port", "3", "--ids", "1-2", "--report", report,
                      "--all-line-settings", "--new-line-settings", "5", "--output", "rs485"},
                     options());
    ASSERT_TRUE(first.waitForLines(1)) << first.err();
    ASSERT_EQ(sim.command("unplug"), "ok unplug");
    ASSERT_EQ(sim.command("plug 44444444 2"), "ok plug 44444444");
    ASSERT_TRUE(first.waitForLines(2)) << first.err();
    EXPECT_EQ(first.wait(), 0) << first.err();
    EXPECT_EQ(first.outLines()[0], "33333333: ID 01 (was 09), mode 101 (was 001), 19200,e,8,1: ok");
    EXPECT_NE(sim.command("state").find("id 02 mode 101 line 5"), std::string::npos);

    // The same reader again, then one that does not take its ID, then one that does.
    ASSERT_EQ(sim.command("unplug"), "ok unplug");
    ASSERT_EQ(sim.command("plug 33333333 1"), "ok plug 33333333");
    CtlProcess second({"--json", "provision", "--port", "3", "--ids", "1-3", "--report", report},
                      options());
    ASSERT_TRUE(second.waitForLines(1)) << second.err();
    ASSERT_EQ(sim.command("unplug"), "ok unplug");
    ASSERT_EQ(sim.command("plug 55555555 7"), "ok plug 55555555");
    ASSERT_EQ(sim.command("keepid on"), "ok keepid on");
    ASSERT_TRUE(second.waitForLines(2)) << second.err();
    ASSERT_EQ(sim.command("unplug"), "ok unplug");
    ASSERT_EQ(sim.command("plug 66666666 7"), "ok plug 66666666");
    ASSERT_TRUE(second.waitForLines(3)) << second.err();
    EXPECT_EQ(second.wait(), 1) << second.err();
    const std::vector<std::string> lines = second.outLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(json(lines[0]).value("outcome").toString(), "already");
    EXPECT_EQ(json(lines[1]).value("outcome").toString(), "failed: read back ID");
    EXPECT_EQ(json(lines[2]).value("idAfter").toString(), "03")
        << "01 and 02 were given in the first run; 03 was not used up by the failure";
    EXPECT_EQ(json(lines[2]).value("idBefore").toString(), "07");

    const auto rows = reportRows(report);
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_EQ(rows[0][0], "time");
    for (std::size_t i = 1; i < rows.size(); ++i)
        ASSERT_EQ(rows[i].size(), 10u);
    EXPECT_EQ(rows[1][8], "19200,e,8,1");
    EXPECT_EQ(rows[1][7], "101");
    EXPECT_EQ(rows[3][9], "already");
    EXPECT_EQ(rows[4][9], "failed: read back ID");
}

TEST_F(CtlSim, AnInterruptedProvisionLeavesWholeRowsAndTheReaderHalfDoneReported)
{
    const std::string report = sim.dir() + "/site.csv";
    CtlProcess provision({"provision", "--port", "3", "--ids", "1-5", "--report", report},
                         options());
    ASSERT_TRUE(provision.waitForLines(1)) << provision.err();
    ASSERT_EQ(sim.command("unplug"), "ok unplug");
    ASSERT_EQ(sim.command("plug 22222222 4"), "ok plug 22222222");
    ASSERT_EQ(sim.command("delay 60"), "ok delay 60");
    ASSERT_TRUE(sim.waitForLog("id 02")) << "the second reader took its ID";
    provision.signal(SIGINT);
    EXPECT_EQ(provision.wait(), 130) << provision.err();

    const auto rows = reportRows(report);
    ASSERT_EQ(rows.size(), 3u);
    for (const auto &row : rows)
        EXPECT_EQ(row.size(), 10u);
    EXPECT_EQ(rows[1][9], "ok");
    EXPECT_EQ(rows[2][2], "22222222");
    EXPECT_TRUE(rows[2][9] == "interrupted" || rows[2][9] == "ok") << rows[2][9];
    kt::link::PosixSerialDevice after = device();
    EXPECT_TRUE(after.open(3, "19200,e,8,1")) << "the port was left: " << after.openError().text();
}

} // namespace
