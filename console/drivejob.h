#pragma once
// One drive job at a time. A drive-changing action (a wipe, a backup, restore, clone or deploy, a
// firmware install, the test bench's engine runs, a LAN boot switch) is one job from its first
// question to its result box: it holds the drive for all of that, and every other job is refused
// meanwhile, whether a technician, the one-second timer or a management request asked for it.
//
// A job held by an object on the stack (a row's flow) takes its own steps along: a DriveJob made
// further down the same flow (DiskHandler's install, the engine's run) is a part of it. A flow's
// own steps run at the wait depth the job was taken at with no modal dialog open; anything that
// reaches here from inside one of the job's waits or questions is someone else, and is refused.

#include <QString>

class QWidget;

class DriveJob
{
public:
    // Takes the drive for the lifetime of the object when it is free, or joins the running job
    // as one of its steps (see above); Taken() says whether either happened.
    explicit DriveJob(const QString &name);
    ~DriveJob();
    DriveJob(const DriveJob &) = delete;
    DriveJob &operator=(const DriveJob &) = delete;
    bool Taken() const { return taken; }

    // For jobs that end in a later notification (a process started in the background); such a
    // job has no steps to take along.
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
    bool owner = false;
    static QString running;
    // The wait depth the running job's flow runs at; -1 when it takes no steps along.
    static int stepsDepth;
};
