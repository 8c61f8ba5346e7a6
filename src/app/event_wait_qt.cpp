#include "event_wait_qt.h"

#include "link/clock.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <climits>

namespace kt::app
{

void QtEventWait::waitFor(std::uint32_t ms, std::optional<int> readable)
{
    if (ms == 0) {
        QCoreApplication::processEvents();
        return;
    }
    QEventLoop loop;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    std::optional<QSocketNotifier> notifier;
    if (readable) {
        // Qt reports a hang-up to a read notifier too; the port's read then fails.
        notifier.emplace(*readable, QSocketNotifier::Read);
        QObject::connect(&*notifier, &QSocketNotifier::activated, &loop, &QEventLoop::quit);
    }
    timer.start(static_cast<int>(std::min<std::uint32_t>(ms, INT_MAX)));
    // A loop started while the application is quitting returns at once; the caller would
    // then come back at once for ever, so the thread sleeps a step instead.
    if (loop.exec() != 0)
        link::systemClock().sleepMs(1);
}

} // namespace kt::app
