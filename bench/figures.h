#pragma once

#include "stats.h"

#include <string>
#include <vector>

namespace kt::bench
{

// How many runs each figure takes; quick runs fewer, for a look while working.
struct RunCounts {
    int transactions = 200;
    int silentTransactions = 25;
    int absentScans = 15;
    int foundScans = 12;
    int cardPolls = 60;
    int blinkSweeps = 3;
    int starts = 8;
    int wakeSeconds = 10; // how long the wake-ups of the card loop are counted, in seconds
    int provisionedReaders = 8;
};

// Wake-ups a second that the card loop's own constants need with no card on the reader: per
// poll the 80 ms pause, the five paced writes of its frame and the reply; in the window also
// the busy blink every 200 ms.
double idleCardLoopWakeupsFloor(bool window);

// The figures measured inside this process: the real window (offscreen), the real serial layer
// and kt4500-sim on a pseudo-terminal. workDir is an empty folder of this run.
std::vector<Figure> measureWindowFigures(const std::string &simBinary, const std::string &workDir,
                                         const RunCounts &runs);

// kt4500ctl provision with kt4500-sim playing a box of readers: from each reader's first
// answer to its row.
Figure measureProvisionFigure(const std::string &simBinary, const std::string &workDir,
                              const RunCounts &runs);

// A program whose start is measured: how long from its spawn until its first window is
// mapped, and its resident memory at that moment.
struct StartSubject {
    std::string label; // as the table names it
    std::string path;  // empty: not available, and why is in missing
    std::string missing;
};

// Starts each subject in turn on the X display (one warm-up start each, not counted, then
// alternating runs) and gives for each the start time and the resident memory. The first
// subject is the program; the others are peers it must not be worse than.
std::vector<Figure> measureStartFigures(const std::string &display, const std::string &workDir,
                                        const std::vector<StartSubject> &subjects,
                                        const RunCounts &runs);

// The same wake-ups and the processor use for `kt4500ctl read-cards`, with no card on the
// reader, as a process of its own against a simulator of its own.
std::vector<Figure> measureCtlFigures(const std::string &ctlBinary, const std::string &simBinary,
                                      const std::string &workDir, const RunCounts &runs);

} // namespace kt::bench
