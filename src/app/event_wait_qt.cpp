#include "event_wait_qt.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <climits>

namespace kt::app
{

QtEventWait::QtEventWait()
    : m_systemWait(link::makeSystemWait())
{
}

QtEventWait::~QtEventWait() = default;

void QtEventWait::waitForMicros(std::uint64_t us, std::optional<int> readable)
{
    if (us >= 1000) {
        waitFor(static_cast<std::uint32_t>(std::min<std::uint64_t>(us / 1000, UINT32_MAX)),
                readable);
        return;
    }
    m_systemWait->waitForMicros(us, readable);
}

void QtEventWait::waitFor(std::uint32_t ms, std::optional<int> readable)
{
    if (ms == 0) {
        QCoreApplication::processEvents();
        return;
    }
    // The event loop that is already running handles the events until the timer or the port
    // ends the wait. A nested QEventLoop would do the same, but quitting it wakes the
    // dispatcher once more through its own event descriptor, at every wait.
    bool ended = false;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, [&ended] { ended = true; });
    std::optional<QSocketNotifier> notifier;
    if (readable) {
        // Qt reports a hang-up to a read notifier too; the port's read then fails.
        notifier.emplace(*readable, QSocketNotifier::Read);
        QObject::connect(&*notifier, &QSocketNotifier::activated, [&ended] { ended = true; });
    }
    timer.start(static_cast<int>(std::min<std::uint32_t>(ms, INT_MAX)));
    // Unlike a nested loop, this waits its time out even while the application is quitting.
    while (!ended)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

} // namespace kt::app
