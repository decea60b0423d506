// Helper for the lock test: waits until a given moment (so that several copies ask for the
// firmware tool lock at the same instant), takes the lock, records that in a shared log, holds it
// a little, records the release and gives it up.
//   lockholder START_EPOCH_MS HOLD_MS LOG
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QThread>

#include <unistd.h>

#include "pxehandler.h"

static void record(const QString &log, const QString &what)
{
    QFile f(log);
    if (f.open(QIODevice::WriteOnly | QIODevice::Append))
        f.write(QString("%1 %2\n").arg(what).arg(getpid()).toLatin1());
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 4)
        return 2;
    const qint64 start = QByteArray(argv[1]).toLongLong();
    const int hold = QByteArray(argv[2]).toInt();
    const QString log = QString::fromLocal8Bit(argv[3]);

    PxeHandler handler;
    while (QDateTime::currentMSecsSinceEpoch() < start) {
    }
    if (!handler.GetLock()) {
        record(log, "gave-up");
        return 1;
    }
    record(log, "acquired");
    QThread::msleep(hold);
    record(log, "released");
    handler.ReleaseLock();
    return 0;
}
