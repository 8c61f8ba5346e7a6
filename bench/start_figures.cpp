// How fast a program shows its window and how much memory it holds then: the program is
// spawned on an X display, and the map of its top-level window is seen on the root window's
// structure events, so the measurement costs the program nothing (no polling tool competes
// with it for the processor).

#include "base/posix/child_process.h"
#include "figures.h"
#include "probes.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#ifdef KT_HAVE_XCB
#include <xcb/xcb.h>
#endif

namespace kt::bench
{

namespace
{

namespace fs = std::filesystem;

constexpr double kStartGoalMs = 300.0;
constexpr double kMemoryGoalMiB = 45.0;

// Each subject's start time, then its memory.
std::vector<Figure> interleave(const std::vector<Figure> &times, const std::vector<Figure> &memory)
{
    std::vector<Figure> figures;
    for (std::size_t i = 0; i < times.size(); ++i) {
        figures.push_back(times[i]);
        figures.push_back(memory[i]);
    }
    return figures;
}

#ifdef KT_HAVE_XCB

constexpr auto kStartLimit = std::chrono::seconds(30);

struct StartResult {
    std::optional<double> ms;
    double residentMiB = 0.0;
    std::string why;     // when ms is empty
    bool reaped = false; // the program has ended and been waited for already
};

// VmRSS of the process, in MiB; 0 when it cannot be read.
double residentMiB(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with("VmRSS:"))
            return std::strtod(line.c_str() + 6, nullptr) / 1024.0; // the value is in kB
    }
    return 0.0;
}

// The environment of a started program: ours, less what would steer it elsewhere, plus a
// home and settings of this run, so that no user's files are read or changed.
std::vector<std::string> childEnvironment(const std::string &display, const std::string &dir)
{
    return base::environmentWith(
        {"DISPLAY=" + display, "HOME=" + dir + "/home", "XDG_RUNTIME_DIR=" + dir + "/runtime",
         "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "QT_QPA_PLATFORM",
         "KT4500_SETTINGS=" + dir + "/ReaderConfig.reg", "KT4500_PORT_DIR=" + dir + "/ports",
         "WAYLAND_DISPLAY", "QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS"});
}

// The program with its output and its errors appended to the log.
pid_t spawn(const std::string &path, const std::vector<std::string> &env, const std::string &log)
{
    return base::startChild(
        {.program = path,
         .environment = env,
         .redirects = {
             base::Redirect::open(STDIN_FILENO, "/dev/null", O_RDONLY),
             base::Redirect::open(STDOUT_FILENO, log, O_WRONLY | O_CREAT | O_APPEND, 0644),
             base::Redirect::dup(STDOUT_FILENO, STDERR_FILENO)}});
}

// Ends a started program: politely first, then for sure. Only our own child is signalled.
void finish(pid_t pid)
{
    ::kill(pid, SIGTERM);
    const auto deadline = SteadyClock::now() + std::chrono::seconds(3);
    while (SteadyClock::now() < deadline) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

class Display
{
public:
    explicit Display(const std::string &name)
    {
        int screenNumber = 0;
        m_connection = xcb_connect(name.c_str(), &screenNumber);
        if (xcb_connection_has_error(m_connection) != 0)
            return;
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
        for (int i = 0; i < screenNumber && it.rem > 0; ++i)
            xcb_screen_next(&it);
        if (it.rem == 0)
            return;
        m_root = it.data->root;
        const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_connection, m_root, XCB_CW_EVENT_MASK, &mask);
        const char atomName[] = "_NET_WM_PID";
        auto *atom = xcb_intern_atom_reply(
            m_connection, xcb_intern_atom(m_connection, 0, sizeof atomName - 1, atomName), nullptr);
        if (atom != nullptr) {
            m_pidAtom = atom->atom;
            std::free(atom);
        }
        m_usable = true;
    }
    ~Display()
    {
        if (m_connection != nullptr)
            xcb_disconnect(m_connection);
    }
    Display(const Display &) = delete;
    Display &operator=(const Display &) = delete;

    bool isUsable() const { return m_usable; }

    // Spawns the program and waits for the map of its first top-level window.
    StartResult start(const std::string &path, const std::vector<std::string> &env,
                      const std::string &log)
    {
        discardEvents();
        const auto begin = SteadyClock::now();
        const pid_t pid = spawn(path, env, log);
        if (pid <= 0)
            return {{}, 0.0, "could not be started"};
        StartResult result = waitForWindow(pid, begin);
        // A reaped PID may already belong to another process: it is never signalled.
        if (!result.reaped)
            finish(pid);
        return result;
    }

private:
    void discardEvents()
    {
        xcb_flush(m_connection);
        // A round trip makes sure every event of an earlier program has arrived.
        std::free(
            xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
        while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection))
            std::free(event);
    }

    // The window's _NET_WM_PID; none when it has none.
    std::optional<pid_t> ownerOf(xcb_window_t window)
    {
        auto *reply = xcb_get_property_reply(
            m_connection,
            xcb_get_property(m_connection, 0, window, m_pidAtom, XCB_ATOM_CARDINAL, 0, 1), nullptr);
        std::optional<pid_t> owner;
        if (reply != nullptr && reply->format == 32 && xcb_get_property_value_length(reply) >= 4)
            owner = static_cast<pid_t>(
                *static_cast<const std::uint32_t *>(xcb_get_property_value(reply)));
        std::free(reply);
        return owner;
    }

    StartResult waitForWindow(pid_t pid, SteadyClock::time_point begin)
    {
        const auto deadline = begin + kStartLimit;
        const int fd = xcb_get_file_descriptor(m_connection);
        while (SteadyClock::now() < deadline) {
            while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection)) {
                std::optional<StartResult> found;
                if ((event->response_type & 0x7F) == XCB_MAP_NOTIFY) {
                    const auto *map = reinterpret_cast<xcb_map_notify_event_t *>(event);
                    if (map->override_redirect == 0) {
                        const double ms = msBetween(begin, SteadyClock::now());
                        const double rss = residentMiB(pid);
                        const auto owner = ownerOf(map->window);
                        if (!owner || *owner == pid)
                            found = StartResult{ms, rss, {}};
                    }
                }
                std::free(event);
                if (found)
                    return *found;
            }
            if (xcb_connection_has_error(m_connection) != 0)
                return {{}, 0.0, "the X display went away"};
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                return {{},
                        0.0,
                        "ended before it showed a window (status " + std::to_string(status) + ")",
                        true};
            }
            pollfd p{fd, POLLIN, 0};
            ::poll(&p, 1, 20);
        }
        return {{}, 0.0, "showed no window within 30 s"};
    }

    xcb_connection_t *m_connection = nullptr;
    xcb_window_t m_root = 0;
    xcb_atom_t m_pidAtom = XCB_ATOM_NONE;
    bool m_usable = false;
};

std::string describeMiss(const std::vector<std::string> &whys)
{
    if (whys.empty())
        return {};
    return std::to_string(whys.size()) + " starts failed: " + whys.front();
}

#endif

} // namespace

std::vector<Figure> measureStartFigures(const std::string &display, const std::string &workDir,
                                        const std::vector<StartSubject> &subjects,
                                        const RunCounts &runs)
{
    std::vector<Figure> times;
    std::vector<Figure> memory;
    for (std::size_t i = 0; i < subjects.size(); ++i) {
        const bool program = i == 0;
        const std::string &label = subjects[i].label;
        Figure time;
        time.name = program ? "Start to window shown (Xvfb), " + label
                            : label + ": start to window shown (peer)";
        time.unit = "ms";
        time.goal = program ? "median <= 300, no worse than the peer" : "-";
        times.push_back(time);
        Figure rss;
        rss.name = program ? "Resident memory at window shown, " + label
                           : label + ": resident memory then (peer)";
        rss.unit = "MiB";
        rss.goal = program ? "median <= 45, no worse than the peer" : "-";
        memory.push_back(rss);
        const std::string why = runs.starts == 0 ? "not run this time" : subjects[i].missing;
        if (subjects[i].path.empty() || runs.starts == 0) {
            times.back().note = why;
            memory.back().note = why;
        }
    }

#ifdef KT_HAVE_XCB
    if (runs.starts == 0 || display.empty())
        return interleave(times, memory);
    const std::string dir = workDir + "/start";
    for (const char *sub : {"home", "runtime", "ports"})
        fs::create_directories(dir + "/" + sub);
    fs::permissions(dir + "/runtime", fs::perms::owner_all, fs::perm_options::replace);
    const std::vector<std::string> env = childEnvironment(display, dir);

    Display x(display);
    if (!x.isUsable()) {
        for (auto *list : {&times, &memory}) {
            for (Figure &f : *list)
                f.note = "no X display " + display;
        }
    }
    std::vector<std::vector<std::string>> failures(subjects.size());
    // One start each first, not counted: it fills the caches (fonts, shared libraries) that
    // every later start, as every start on a person's desktop, finds filled.
    for (int round = -1; x.isUsable() && round < runs.starts; ++round) {
        for (std::size_t i = 0; i < subjects.size(); ++i) {
            if (subjects[i].path.empty())
                continue;
            const StartResult r =
                x.start(subjects[i].path, env, dir + "/start" + std::to_string(i) + ".log");
            if (round < 0)
                continue;
            if (!r.ms) {
                failures[i].push_back(r.why);
                continue;
            }
            times[i].samples.push_back(*r.ms);
            memory[i].samples.push_back(r.residentMiB);
        }
    }
    for (std::size_t i = 0; i < subjects.size(); ++i) {
        if (!failures[i].empty()) {
            times[i].note = describeMiss(failures[i]);
            memory[i].note = times[i].note;
        }
    }
#else
    (void)display;
    (void)workDir;
    (void)runs;
    for (auto *list : {&times, &memory}) {
        for (Figure &f : *list)
            f.note = "built without the xcb library";
    }
#endif

    // The program against its goals and against every peer that was measured.
    const auto judge = [&](std::vector<Figure> &list, double goal) {
        Figure &own = list[0];
        if (own.samples.empty())
            return;
        bool met = own.median() <= goal;
        bool compared = false;
        for (std::size_t i = 1; i < list.size(); ++i) {
            if (list[i].samples.empty())
                continue;
            compared = true;
            met = met && own.median() <= list[i].median();
        }
        if (!compared)
            own.note += std::string(own.note.empty() ? "" : "; ") + "no peer measured";
        own.met = met;
    };
    judge(times, kStartGoalMs);
    judge(memory, kMemoryGoalMiB);
    return interleave(times, memory);
}

} // namespace kt::bench
