#pragma once
// The console's one way to wait. The console has one thread; while it waits for a command, the
// window must stay served (painting, timers, the status datagrams, and for progress runs the
// technician's clicks). A WaitLoop serves events until what it waits for is finished, its time
// limit has passed, or the application quits, and says which of the three ended it, so that no
// wait can hang and no caller can take an interrupted wait for a finished one.
//
// Waits nest only as far as one action's own steps go (a progress run inside a question's flow);
// requests from the timer, the keys and a management server are never served inside a wait but
// queued until the console is back at its top (AtTopLevel, see PxeClient). A modal dialog's own
// loop counts as a wait. Whatever must not run twice at once holds the drive (DriveJob); the loop
// only promises that every wait ends.

#include <QEventLoop>
#include <QObject>

class QProcess;

class WaitLoop : public QObject
{
    Q_OBJECT
public:
    enum Outcome { Done, TimedOut, Interrupted };

    // ExcludeUserInputEvents keeps clicks and keys until the wait is over (blocking runs);
    // AllEvents lets the technician use the window meanwhile (progress runs).
    explicit WaitLoop(QEventLoop::ProcessEventsFlags flags = QEventLoop::AllEvents);

    // Serves events until Finish() is called, timeoutMs passes (negative: no limit) or the
    // application quits. Returns at once when Finish() came first.
    Outcome Wait(int timeoutMs = -1);

    // Until process has ended (or failed to start).
    static Outcome ForProcess(QProcess &process, int timeoutMs, QEventLoop::ProcessEventsFlags flags);

    // Serves the events already waiting, without user input: long work on the window's thread
    // (copying, hashing) calls it between pieces.
    static void ServePending();

    // How many waits are running, innermost included (ServePending counts while it serves).
    static int Depth();
    // No wait is running and no modal dialog is open: the console is at its top-level event loop.
    static bool AtTopLevel();
    // A wait was cut short because the application is quitting, and none has ended normally
    // since: work that would start something new stops instead.
    static bool Quitting();

public slots:
    // Ends the wait as Done.
    void Finish();

private:
    QEventLoop loop;
    QEventLoop::ProcessEventsFlags flags;
    bool finished = false;
    bool timedOut = false;
    static int depth;
    static bool quitting;
};
