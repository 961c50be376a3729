#include "EventWait.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

bool EventWait::until(const std::function<bool()> &done, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    // Wakes the blocking dispatch below when the time is up; started again
    // with the time left, since a timer may fire a little early.
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    while (!done() && !deadline.hasExpired()) {
        wake.start(int(qMax<qint64>(1, deadline.remainingTime())));
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return done();
}
