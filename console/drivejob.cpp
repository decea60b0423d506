#include "drivejob.h"

#include "logging.h"
#include "waitloop.h"

#include <QApplication>
#include <QMessageBox>

QString DriveJob::running;
int DriveJob::stepsDepth = -1;

DriveJob::DriveJob(const QString &name) : name(name)
{
    if (running.isEmpty()) {
        running = name;
        stepsDepth = WaitLoop::Depth();
        owner = taken = true;
    } else if (stepsDepth == WaitLoop::Depth() && !QApplication::activeModalWidget()) {
        taken = true;
    } else {
        Logging(2) << "Refused" << name << "while" << running << "runs";
    }
}

DriveJob::~DriveJob()
{
    if (owner)
        Release(name);
}

bool DriveJob::Take(const QString &name)
{
    if (!running.isEmpty()) {
        Logging(2) << "Refused" << name << "while" << running << "runs";
        return false;
    }
    running = name;
    stepsDepth = -1;
    return true;
}

void DriveJob::Release(const QString &name)
{
    if (running != name)
        return;
    running.clear();
    stepsDepth = -1;
}

QString DriveJob::Running()
{
    return running;
}

QString DriveJob::BusyText()
{
    return QStringLiteral("%1 is still running.\nWait until it has finished before you start another job on the drive.")
        .arg(running);
}

bool DriveJob::RefuseIfBusy(QWidget *parent)
{
    if (running.isEmpty())
        return false;
    Logging(2) << "Refused while" << running << "runs";
    QMessageBox::warning(parent, QStringLiteral("Drive Busy"), BusyText());
    return true;
}
