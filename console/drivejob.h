#pragma once
// One drive job at a time. The engine (a backup, restore, clone or deploy, from the main window
// or the test bench), a wipe, a firmware install and a LAN boot switch each write the drive or the
// firmware's settings; two at once would leave either half done. Whoever starts such a job takes
// the drive first and gives it back when the job has ended; while it is taken every other job is
// refused, whether a technician, the one-second timer or a management request asked for it.

#include <QString>

class QWidget;

class DriveJob
{
public:
    // Takes the drive for the lifetime of the object, when it is free (see Taken()).
    explicit DriveJob(const QString &name);
    ~DriveJob();
    DriveJob(const DriveJob &) = delete;
    DriveJob &operator=(const DriveJob &) = delete;
    bool Taken() const { return taken; }

    // For jobs that end in a later notification (a process started in the background).
    static bool Take(const QString &name);
    static void Release(const QString &name);

    // The running job's name; empty when the drive is free.
    static QString Running();
    // What the technician is told when a job is refused.
    static QString BusyText();
    // When a job runs: tells the technician (a warning box over parent) and answers true.
    static bool RefuseIfBusy(QWidget *parent);

private:
    QString name;
    bool taken = false;
    static QString running;
};
