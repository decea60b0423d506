#include "waitloop.h"

#include <QApplication>
#include <QProcess>
#include <QTimer>

int WaitLoop::depth = 0;
bool WaitLoop::quitting = false;

WaitLoop::WaitLoop(QEventLoop::ProcessEventsFlags flags) : flags(flags) {}

void WaitLoop::Finish()
{
    finished = true;
    loop.quit();
}

WaitLoop::Outcome WaitLoop::Wait(int timeoutMs)
{
    if (finished)
        return Done;
    QTimer limit;
    if (timeoutMs >= 0) {
        limit.setSingleShot(true);
        connect(&limit, &QTimer::timeout, this, [this]() {
            timedOut = true;
            loop.quit();
        });
        limit.start(timeoutMs);
    }
    // QEventLoop::exec returns at once, and every running loop is left, once the application
    // has been asked to quit: that is the Interrupted outcome.
    ++depth;
    loop.exec(flags);
    --depth;
    quitting = !finished && !timedOut;
    if (finished)
        return Done;
    return timedOut ? TimedOut : Interrupted;
}

WaitLoop::Outcome WaitLoop::ForProcess(QProcess &process, int timeoutMs, QEventLoop::ProcessEventsFlags flags)
{
    if (process.state() == QProcess::NotRunning)
        return Done;
    WaitLoop wait(flags);
    connect(&process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), &wait, &WaitLoop::Finish);
    connect(&process, &QProcess::errorOccurred, &wait, [&wait](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            wait.Finish();
    });
    return wait.Wait(timeoutMs);
}

void WaitLoop::ServePending()
{
    ++depth;
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    --depth;
}

int WaitLoop::Depth()
{
    return depth;
}

bool WaitLoop::Quitting()
{
    return quitting;
}

bool WaitLoop::AtTopLevel()
{
    return depth == 0 && !QApplication::activeModalWidget();
}
