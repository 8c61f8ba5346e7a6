// kt4500ctl: the window's reader operations from the command line, for scripted set-up.

#include "link/clock.h"
#include "link/event_wait.h"
#include "link/posix/serial_device_posix.h"
#include "link/reader_link.h"
#include "link/standard_descriptors.h"
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
#include <cstring>
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

// The message of a usage error without its "kt4500ctl: " and the hint to the help below it.
std::string firstLine(const std::string &text)
{
    std::string line = text.substr(0, text.find('\n'));
    constexpr std::string_view kPrefix = "kt4500ctl: ";
    return line.rfind(kPrefix, 0) == 0 ? line.substr(kPrefix.size()) : line;
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
    kt::text::setLanguage(invocation.language.value_or(loaded.language));

    const kt::link::PosixSerialDevice::Folders folders = systemFolders();
    kt::link::PosixSerialDevice device(folders);
    PortWatch watch(device);
    watch.setReadBack([&device] { return device.lineSettingsInForce(); });
    // A line shared with a program that took no lock is a warning the user must see; with
    // --verbose the link's own warning says it already.
    if (!g_verbose)
        watch.setWarn(note);
    kt::link::ReaderLink link(watch, kt::link::systemClock());
    // The system wait ends early on the signals that are noted above, so an interrupt is seen
    // at once.
    const std::unique_ptr<kt::link::EventWait> wait = kt::link::makeSystemWait();
    Runner::Io io{out, note, takeInterrupt, {}, wait.get(), {}};
    if (invocation.bell)
        io.bell = [] { std::fputs("\a", stderr); };
    else if (invocation.command == Command::Provision)
        io.tone = makeTone();
    Runner runner(link, watch, *store, loaded.settings, io);
    const int status = runner.run(invocation);
    link.closePort();
    return status;
}

// Whether --json was asked for, also where the rest of the command line does not parse.
bool asksForJson(const std::vector<std::string_view> &args)
{
    for (std::string_view arg : args) {
        if (arg == "--")
            return false;
        if (arg == "--json")
            return true;
    }
    return false;
}

// A run whose output could not be written (a full disk, a reader of the pipe gone) did not
// do its job for the caller, whatever happened on the line.
int checkOutput(Printer &out, int status)
{
    if (out.finish())
        return status;
    note(std::string("writing standard output failed: ") + std::strerror(out.failedErrno()));
    return status == kExitSuccess ? kExitFailed : status;
}

int run(int argc, char **argv)
{
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    const ParseResult parsed = parseArguments(args);
    std::signal(SIGPIPE, SIG_IGN);
    Printer out(stdout,
                parsed.kind == ParseResult::Kind::Run ? parsed.invocation.json : asksForJson(args));
    switch (parsed.kind) {
    case ParseResult::Kind::Help:
        out.raw(parsed.text);
        return checkOutput(out, kExitSuccess);
    case ParseResult::Kind::Version:
        out.raw("kt4500ctl " KT_VERSION "\n");
        return checkOutput(out, kExitSuccess);
    case ParseResult::Kind::Usage:
        std::fprintf(stderr, "%s\n", parsed.text.c_str());
        if (out.isJson())
            out.object(JsonObject()
                           .text("event", "outcome")
                           .null("command")
                           .boolean("ok", false)
                           .text("message", firstLine(parsed.text))
                           .boolean("usage", true));
        return checkOutput(out, kExitUsage);
    case ParseResult::Kind::Run:
        break;
    }

    const Invocation &invocation = parsed.invocation;
    g_verbose = invocation.verbose;
    kt::log::setSink(logLine);
    installSignalHandlers();
    if (invocation.command == Command::Ports) {
        listPorts(out, systemFolders(), invocation.port);
        return checkOutput(out, kExitSuccess);
    }
    return checkOutput(out, runReaderCommand(invocation, out));
}

} // namespace

int main(int argc, char **argv)
{
    kt::link::reserveStandardDescriptors();
    try {
        return run(argc, argv);
    } catch (const std::exception &e) {
        note(std::string("stopped: ") + e.what());
    } catch (...) {
        note("stopped by an unknown exception");
    }
    return kExitFailed;
}
