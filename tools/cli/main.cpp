// kt4500ctl: the window's reader operations from the command line, for scripted set-up.

#include "link/clock.h"
#include "link/posix/port_names.h"
#include "link/posix/serial_device_posix.h"
#include "link/reader_link.h"
#include "log/log.h"
#include "options.h"
#include "port_watch.h"
#include "ports.h"
#include "printer.h"
#include "runner.h"
#include "settings/app_settings.h"
#include "settings/settings_store.h"
#include "text/text_table.h"
#include "tone.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace
{

using namespace kt::cli;

volatile std::sig_atomic_t g_interrupt = 0;
bool g_verbose = false;

extern "C" void onInterrupt(int)
{
    g_interrupt = 1;
}

bool takeInterrupt()
{
    if (g_interrupt == 0)
        return false;
    g_interrupt = 0;
    return true;
}

// Ctrl-C, a terminal that hangs up and SIGTERM all end a run through the operation's own
// path, so that the port is closed properly. A reader of standard output that goes away ends
// it the same way instead of killing the process.
void installSignalHandlers()
{
    struct sigaction action {
    };
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

void note(const std::string &line)
{
    std::fprintf(stderr, "kt4500ctl: %s\n", cleanText(line).c_str());
}

// The program reports the port failures that matter itself, so the serial layer's warnings,
// which a sweep gives for every missing port, and every info line wait for --verbose.
void logLine(const kt::log::Category &category, kt::log::Level level, std::string_view message)
{
    const std::string_view name = category.name;
    const bool quiet = level == kt::log::Level::Info
                       || (level == kt::log::Level::Warning && name == "kt4500.link");
    if (quiet && !g_verbose)
        return;
    std::string line(message);
    if (g_verbose)
        line = std::string(name) + ": " + line;
    note(line);
}

std::string environment(const char *name)
{
    const char *value = std::getenv(name);
    return value != nullptr ? value : "";
}

kt::link::PosixSerialDevice::Folders systemFolders()
{
    return kt::link::PosixSerialDevice::Folders{environment("KT4500_PORT_DIR")};
}

int runReaderCommand(const Invocation &invocation, Printer &out)
{
    std::unique_ptr<kt::settings::SettingsStore> store = kt::settings::makeSystemStore();
    const kt::settings::LoadedSettings loaded = kt::settings::loadSettings(*store);
    kt::text::setLanguageIndex(invocation.language.value_or(loaded.languageIndex));

    const kt::link::PosixSerialDevice::Folders folders = systemFolders();
    kt::link::PosixSerialDevice device(folders);
    PortWatch watch(device, [&](int port) {
        const auto path = kt::link::portDevicePath(port, folders.portDir, folders.etcPortsDir);
        return OpenFailure{port, device.lastError(), path.value_or(""), device.lastErrorText()};
    });
    kt::link::ReaderLink link(watch, kt::link::systemClock());
    Runner::Io io{out, note, takeInterrupt, {}, {}};
    if (invocation.bell)
        io.bell = [] { std::fputs("\a", stderr); };
    else if (invocation.command == Command::Provision)
        io.tone = makeTone();
    Runner runner(link, watch, *store, loaded.settings, io);
    const int status = runner.run(invocation);
    link.closePort();
    return status;
}

int run(int argc, char **argv)
{
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    const ParseResult parsed = parseArguments(args);
    switch (parsed.kind) {
    case ParseResult::Kind::Help:
        std::fputs(parsed.text.c_str(), stdout);
        return kExitSuccess;
    case ParseResult::Kind::Version:
        std::puts("kt4500ctl " KT_VERSION);
        return kExitSuccess;
    case ParseResult::Kind::Usage:
        std::fprintf(stderr, "%s\n", parsed.text.c_str());
        return kExitUsage;
    case ParseResult::Kind::Run:
        break;
    }

    const Invocation &invocation = parsed.invocation;
    g_verbose = invocation.verbose;
    kt::log::setSink(logLine);
    installSignalHandlers();
    Printer out(stdout, invocation.json);
    if (invocation.command == Command::Ports) {
        listPorts(out, systemFolders(), invocation.port);
        return kExitSuccess;
    }
    return runReaderCommand(invocation, out);
}

} // namespace

int main(int argc, char **argv)
{
    try {
        return run(argc, argv);
    } catch (const std::exception &e) {
        note(std::string("stopped: ") + e.what());
    } catch (...) {
        note("stopped by an unknown exception");
    }
    return kExitFailed;
}
