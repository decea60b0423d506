#include "drivejob.h"

#include "logging.h"

#include <QMessageBox>

QString DriveJob::running;

DriveJob::DriveJob(const QString &name) : name(name), taken(Take(name)) {}

DriveJob::~DriveJob()
{
    if (taken)
        Release(name);
}

bool DriveJob::Take(const QString &name)
{
    if (!running.isEmpty()) {
        Logging(2) << "Refused" << name << "while" << running << "runs";
        return false;
    }
    running = name;
    return true;
}

void DriveJob::Release(const QString &name)
{
    if (running == name)
        running.clear();
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
