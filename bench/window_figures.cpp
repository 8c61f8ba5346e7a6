// The timing figures of the link and the reader operations, measured on the real window
// (offscreen), the real serial layer and kt4500-sim on a pseudo-terminal.

#include "event_wait_qt.h"
#include "figures.h"
#include "frm_module.h"
#include "lamp.h"
#include "link/line_table.h"
#include "link/posix/serial_device_posix.h"
#include "link/reader_link.h"
#include "probes.h"
#include "settings/posix/reg_file_store.h"
#include "sim_process.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

namespace kt::bench
{

namespace
{

namespace fs = std::filesystem;
using kt::ops::Panel;

constexpr int kSimPort = 3;
// The simulator starts at the factory line settings.
constexpr int kSimLineIndex = link::kFactoryLineSettingsIndex;
constexpr std::string_view kSimLineSettings = link::kLineSettings[kSimLineIndex].text;
constexpr const char *kCard = "00BC614E";

// The program's floors: 1 ms after each of the four single bytes of a frame and 5 ms after
// its block; the 120 ms reply window; an 80 ms pause before each card poll; two 100 ms pauses
// around the version query; a 300 ms beep; a busy blink every 200 ms.
constexpr double kPacingMs = 9.0;
constexpr double kReplyWindowMs = 120.0;
constexpr double kCardWaitMs = 80.0;
constexpr double kInfoPausesMs = 200.0;
constexpr double kBeepMs = 300.0;
constexpr double kBlinkMs = 200.0;
constexpr double kCardLampMs = 1000.0;

// The simulator's link and log in a folder of the run, apart from the window's ports.
kt::sim::SimOptions simOptions(const std::string &simBinary, const std::string &workDir)
{
    kt::sim::SimOptions options;
    options.binary = simBinary;
    options.dir = workDir + "/sim";
    return options;
}

// Everything the window needs, wired as main() wires it, with the probes in between.
struct Rig {
    Rig(const std::string &simBinary, const std::string &workDir)
        : dir(workDir)
        , portDir(workDir + "/ports")
        , sim(simOptions(simBinary, workDir))
        , device(link::PosixSerialDevice::Folders{portDir})
        , recorder(device)
        , link(recorder, link::systemClock(), &wait)
        , store(workDir + "/ReaderConfig.reg")
        , systemBeeper(app::makeSystemBeeper())
        , beeper(*systemBeeper)
        , frm(link, store, beeper)
    {
        frm.show();
        QCoreApplication::processEvents();
        btnScan = frm.findChild<QPushButton *>(QStringLiteral("btnScan"));
        btnReadCard = frm.findChild<QPushButton *>(QStringLiteral("btnReadCard"));
        chkLock = frm.findChild<QCheckBox *>(QStringLiteral("chkLock"));
        tmrBusy = frm.findChild<QTimer *>(QStringLiteral("tmrBusy"));
    }

    // Which port numbers exist: each is a link to the simulator's terminal.
    void setPorts(const std::vector<int> &numbers)
    {
        std::error_code ignored;
        fs::remove_all(portDir, ignored);
        fs::create_directories(portDir);
        const std::string target = sim.devicePath();
        for (int n : numbers)
            fs::create_symlink(target, portDir + "/COM" + std::to_string(n), ignored);
    }

    void storeSimPort()
    {
        frm.appSettings().portNumber = kSimPort;
        frm.appSettings().lineSettingsText = kSimLineSettings;
        frm.appSettings().lineSettingsIndex = kSimLineIndex;
    }

    bool isComplete() const
    {
        return btnScan != nullptr && btnReadCard != nullptr && chkLock != nullptr
               && tmrBusy != nullptr;
    }

    std::string dir;
    std::string portDir;
    kt::sim::SimProcess sim;
    link::PosixSerialDevice device;
    RecordingDevice recorder;
    app::QtEventWait wait;
    link::ReaderLink link;
    settings::RegFileStore store;
    std::unique_ptr<app::Beeper> systemBeeper;
    RecordingBeeper beeper;
    TfrmModule frm;
    QPushButton *btnScan = nullptr;
    QPushButton *btnReadCard = nullptr;
    QCheckBox *chkLock = nullptr;
    QTimer *tmrBusy = nullptr;
};

std::string format(const char *pattern, double value)
{
    char text[128];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

constexpr const char *kNotRun = "not run this time";

Figure notRun(Figure figure)
{
    figure.note = kNotRun;
    return figure;
}

void appendNote(Figure &figure, const std::string &text)
{
    figure.note += (figure.note.empty() ? "" : "; ") + text;
}

std::vector<Figure> transactFigures(Rig &rig, const RunCounts &runs)
{
    Figure instant =
        figureOf("Transact \"A00B\", instant reply", "ms", kPacingMs, "median <= 9.6, p95 <= 11");
    Figure silent = figureOf("Transact with no reply, start to false", "ms",
                             kPacingMs + kReplyWindowMs, "median <= 131");
    Figure waitCpu =
        figureOf("Processor use while a transaction waits for nothing", "%", 0.0, "median <= 0.3");

    if (runs.transactions == 0) {
        for (Figure *f : {&instant, &silent, &waitCpu})
            f->note = kNotRun;
        return {instant, silent, waitCpu};
    }
    rig.setPorts({kSimPort});
    if (!rig.link.openPort(kSimPort, kSimLineSettings)) {
        for (Figure *f : {&instant, &silent, &waitCpu})
            f->note = "the simulator's port did not open";
        return {instant, silent, waitCpu};
    }
    for (int i = 0; i < 5; ++i) // the first exchanges on a fresh line are not counted
        (void)rig.link.transact("A00B");
    int failed = 0;
    for (int i = 0; i < runs.transactions; ++i) {
        const auto start = SteadyClock::now();
        const bool ok = rig.link.transact("A00B");
        const auto end = SteadyClock::now();
        if (ok)
            instant.samples.push_back(msBetween(start, end));
        else
            ++failed;
    }
    if (failed > 0)
        appendNote(instant, std::to_string(failed) + " exchanges got no good reply");

    rig.sim.command("silent on");
    for (int i = 0; i < runs.silentTransactions; ++i) {
        const ProcessorSpan span;
        const auto start = SteadyClock::now();
        const bool ok = rig.link.transact("A00B");
        const auto end = SteadyClock::now();
        waitCpu.samples.push_back(span.percent());
        if (!ok)
            silent.samples.push_back(msBetween(start, end));
    }
    rig.sim.command("silent off");
    rig.link.closePort();

    instant.met = !instant.samples.empty() && instant.median() <= 9.6 && instant.p95() <= 11.0;
    silent.met = !silent.samples.empty() && silent.median() <= 131.0;
    waitCpu.met = !waitCpu.samples.empty() && waitCpu.median() <= 0.3;
    return {instant, silent, waitCpu};
}

// Click to the start of the beep: the outcome is on the window by then.
Figure absentScanFigure(Rig &rig, const RunCounts &runs)
{
    Figure figure = figureOf("Scan with 16 absent ports, click to outcome (beep excluded)", "ms",
                             0.0, "median <= 5");
    if (runs.absentScans == 0)
        return notRun(figure);
    rig.setPorts({});
    rig.frm.appSettings().portNumber = 0;
    rig.chkLock->setChecked(true);
    std::vector<double> beforeFirstOpen;
    int wrong = 0;
    for (int i = 0; i < runs.absentScans; ++i) {
        rig.beeper.clear();
        rig.recorder.clear();
        const auto start = SteadyClock::now();
        rig.btnScan->click();
        if (!rig.recorder.opens().empty())
            beforeFirstOpen.push_back(msBetween(start, rig.recorder.opens().front()));
        if (rig.beeper.tones().empty() || rig.frm.panelText(Panel::Msg) != "Reader Not Find") {
            ++wrong;
            continue;
        }
        figure.samples.push_back(msBetween(start, rig.beeper.tones().front().start));
    }
    if (wrong > 0)
        appendNote(figure, std::to_string(wrong) + " scans did not end in \"Reader Not Find\"");
    if (!beforeFirstOpen.empty())
        appendNote(figure, format("%.2f ms of it (median) before the first port is tried: the "
                                  "window disabled and its placeholders painted",
                                  median(beforeFirstOpen)));
    figure.met = !figure.samples.empty() && figure.median() <= 5.0;
    return figure;
}

// Click to the end of the success beep, the reader answering on its stored port at once.
Figure foundScanFigure(Rig &rig, const RunCounts &runs)
{
    const double floor = 3 * kPacingMs + kInfoPausesMs + kBeepMs;
    Figure figure = figureOf("Scan that finds the reader on its stored port, click to outcome",
                             "ms", floor, format("median <= %.1f (1.03 x floor)", 1.03 * floor));
    if (runs.foundScans == 0)
        return notRun(figure);
    rig.setPorts({kSimPort});
    rig.storeSimPort();
    int wrong = 0;
    for (int i = 0; i < runs.foundScans; ++i) {
        const auto start = SteadyClock::now();
        rig.btnScan->click();
        const auto end = SteadyClock::now();
        if (!rig.frm.readerState().readerFound) {
            ++wrong;
            continue;
        }
        figure.samples.push_back(msBetween(start, end));
    }
    if (wrong > 0)
        appendNote(figure, std::to_string(wrong) + " scans did not read the reader's info");
    figure.met = !figure.samples.empty() && figure.median() <= 1.03 * floor;
    return figure;
}

// From one card poll's frame to the next, with a card on the reader; and the processor used
// over each of those periods.
std::vector<Figure> cardLoopFigures(Rig &rig, const RunCounts &runs)
{
    const double floor = kCardWaitMs + kPacingMs;
    Figure period = figureOf("Card loop: poll-to-poll period", "ms", floor,
                             format("median <= %.1f (1.1 x floor)", 1.1 * floor));
    Figure cpu = figureOf("Processor use while the card loop runs", "%", 0.0, "median <= 0.5");

    if (runs.cardPolls == 0)
        return {notRun(period), notRun(cpu)};

    rig.setPorts({kSimPort});
    rig.storeSimPort();
    rig.frm.readerState().readerFound = true;
    rig.sim.command(std::string("card ") + kCard);
    rig.recorder.clear();
    rig.beeper.clear();
    int polls = 0;
    QPushButton *button = rig.btnReadCard;
    // The stop click arrives as a person's would: queued, and handled by the loop's own pump.
    rig.recorder.onFrame([&](const RecordingDevice::Frame &frame) {
        if (frame.command == "A00F" && ++polls == runs.cardPolls + 1)
            QMetaObject::invokeMethod(
                button, [button] { button->click(); }, Qt::QueuedConnection);
    });
    button->click();
    rig.recorder.onFrame({});
    rig.sim.command("nocard");

    std::vector<RecordingDevice::Frame> frames;
    for (const auto &frame : rig.recorder.frames()) {
        if (frame.command == "A00F")
            frames.push_back(frame);
    }
    for (std::size_t i = 1; i < frames.size(); ++i) {
        const double ms = msBetween(frames[i - 1].start, frames[i].start);
        period.samples.push_back(ms);
        cpu.samples.push_back(100.0 * (frames[i].cpuAtStart - frames[i - 1].cpuAtStart) * 1000.0
                              / ms);
    }
    const bool stoppedByUser =
        !rig.beeper.tones().empty() && rig.beeper.tones().back().frequencyHz == 1000;
    if (!stoppedByUser) {
        appendNote(period, "the loop ended on a failed poll");
        appendNote(cpu, "the loop ended on a failed poll");
    }
    period.met = !period.samples.empty() && period.median() <= 1.1 * floor;
    cpu.met = !cpu.samples.empty() && cpu.median() <= 0.5;
    return {period, cpu};
}

// A timer's figure: met when 95 % of the samples lie within 10 ms of what it is set to.
void judgeSpread(Figure &figure, double targetMs, const char *what)
{
    std::vector<double> deviation;
    for (double ms : figure.samples)
        deviation.push_back(std::fabs(ms - targetMs));
    const double spread = percentile(deviation, 0.95);
    if (!figure.samples.empty())
        appendNote(figure,
                   "95 % of the " + std::string(what) + format(" within +/- %.1f ms", spread));
    figure.met = !figure.samples.empty() && spread <= 10.0;
}

// The window's thread while the card loop runs with no card on the reader: its wake-ups (the
// context switches /proc counts for it) and its processor time, one sample a second.
Figure idleCardLoopFigure(Rig &rig, const RunCounts &runs)
{
    Figure figure = figureOf("Card loop with no card: wake-ups of the window's thread", "/s",
                             idleCardLoopWakeupsFloor(true), "median <= 150");
    if (runs.wakeSeconds == 0)
        return notRun(figure);
    rig.setPorts({kSimPort});
    rig.storeSimPort();
    rig.frm.readerState().readerFound = true;
    rig.sim.command("nocard");
    rig.recorder.clear();
    rig.beeper.clear();

    std::vector<ThreadSample> samples;
    QPushButton *button = rig.btnReadCard;
    QTimer sampler;
    sampler.setTimerType(Qt::PreciseTimer);
    sampler.setInterval(1000);
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        samples.push_back(sampleThread());
        if (static_cast<int>(samples.size()) > runs.wakeSeconds) {
            sampler.stop();
            button->click();
        }
    });
    // The count starts at the first poll, once the loop is under way.
    rig.recorder.onFrame([&](const RecordingDevice::Frame &frame) {
        if (frame.command == "A00F" && samples.empty()) {
            samples.push_back(sampleThread());
            sampler.start();
        }
    });
    button->click();
    rig.recorder.onFrame({});

    std::vector<double> cpu;
    for (std::size_t i = 1; i < samples.size(); ++i) {
        if (samples[i].switches < 0 || samples[i - 1].switches < 0)
            continue;
        figure.samples.push_back(wakeupsPerSecond(samples[i - 1], samples[i]));
        cpu.push_back(threadPercent(samples[i - 1], samples[i]));
    }
    if (figure.samples.empty()) {
        appendNote(figure, "the thread's counts could not be read from /proc");
        return figure;
    }
    appendNote(figure, format("its processor use meanwhile %.2f %% (median)", median(cpu)));
    figure.met = figure.median() <= 150.0;
    return figure;
}

// The busy blink while the sweep tries 16 ports on which nothing answers.
Figure blinkFigure(Rig &rig, const RunCounts &runs)
{
    Figure figure = figureOf("Comm-lamp blink interval during a 16-port sweep", "ms", kBlinkMs,
                             "95 % within 190..210");
    if (runs.blinkSweeps == 0)
        return notRun(figure);
    std::vector<int> all;
    for (int n = 1; n <= 16; ++n)
        all.push_back(n);
    rig.setPorts(all);
    rig.frm.appSettings().portNumber = 0;
    rig.chkLock->setChecked(true);
    rig.sim.command("silent on");
    std::vector<SteadyClock::time_point> fires;
    const auto connection = QObject::connect(rig.tmrBusy, &QTimer::timeout,
                                             [&fires] { fires.push_back(SteadyClock::now()); });
    for (int i = 0; i < runs.blinkSweeps; ++i) {
        fires.clear();
        rig.btnScan->click();
        for (std::size_t k = 1; k < fires.size(); ++k)
            figure.samples.push_back(msBetween(fires[k - 1], fires[k]));
    }
    QObject::disconnect(connection);
    rig.sim.command("silent off");

    judgeSpread(figure, kBlinkMs, "intervals");
    return figure;
}

// From the card lamp turning on for a card to tmrCard turning it off again, a card on the
// reader throughout: the lamp is looked at on every event pass the loop makes (one a ms).
Figure cardLampFigure(Rig &rig, const RunCounts &runs)
{
    Figure figure = figureOf("Card lamp: on to off", "ms", kCardLampMs, "95 % within 990..1010");
    const int shows = runs.cardPolls == 0 ? 0 : std::max(3, runs.cardPolls / 6);
    const auto *lamp = rig.frm.findChild<app::Lamp *>(QStringLiteral("shCard"));
    auto *tmrCard = rig.frm.findChild<QTimer *>(QStringLiteral("tmrCard"));
    if (shows == 0 || lamp == nullptr || tmrCard == nullptr)
        return notRun(figure);
    rig.setPorts({kSimPort});
    rig.storeSimPort();
    rig.frm.readerState().readerFound = true;
    rig.sim.command(std::string("card ") + kCard);
    const QColor off = lamp->colour();
    std::optional<SteadyClock::time_point> on;
    QTimer watch;
    watch.setInterval(0);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!on && lamp->colour() != off)
            on = SteadyClock::now();
    });
    QPushButton *button = rig.btnReadCard;
    bool isMeasuring = false;
    const auto connection = QObject::connect(tmrCard, &QTimer::timeout, [&] {
        if (!isMeasuring || !on)
            return;
        figure.samples.push_back(msBetween(*on, SteadyClock::now()));
        isMeasuring = false;
        QMetaObject::invokeMethod(
            button, [button] { button->click(); }, Qt::QueuedConnection);
    });
    for (int i = 0; i < shows; ++i) {
        // The poll that ends the previous loop may have shown the card again.
        while (tmrCard->isActive() || lamp->colour() != off) {
            QCoreApplication::processEvents();
            link::systemClock().sleepMs(1);
        }
        on.reset();
        isMeasuring = true;
        watch.start();
        button->click();
        watch.stop();
    }
    QObject::disconnect(connection);
    rig.sim.command("nocard");

    judgeSpread(figure, kCardLampMs, "seconds");
    return figure;
}

} // namespace

std::vector<Figure> measureWindowFigures(const std::string &simBinary, const std::string &workDir,
                                         const RunCounts &runs)
{
    Rig rig(simBinary, workDir);
    const auto measure = [&rig](const RunCounts &counts) -> std::vector<Figure> {
        std::vector<Figure> link = transactFigures(rig, counts);
        Figure absent = absentScanFigure(rig, counts);
        Figure found = foundScanFigure(rig, counts);
        std::vector<Figure> card = cardLoopFigures(rig, counts);
        Figure lamp = cardLampFigure(rig, counts);
        Figure idle = idleCardLoopFigure(rig, counts);
        Figure blink = blinkFigure(rig, counts);
        return {link[0], link[1], absent, found, card[0], card[1], lamp, idle, link[2], blink};
    };
    if (!rig.sim.isRunning() || !rig.isComplete()) {
        // Every figure is listed all the same, with the reason it is missing.
        std::vector<Figure> figures = measure(RunCounts{0, 0, 0, 0, 0, 0, 0, 0});
        for (Figure &f : figures)
            f.note = !rig.sim.isRunning() ? "kt4500-sim did not start"
                                          : "the window lacks a control it should have";
        return figures;
    }
    return measure(runs);
}

} // namespace kt::bench
