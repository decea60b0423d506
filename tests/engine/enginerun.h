#pragma once
// What the end-to-end engine tests share: shell commands in the sandbox, digests, and one run of
// the real vaultine on a drive, with what to print when its status is not the one expected.

#include "sandbox.h"

#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QtTest>

namespace enginerun {

inline QString sh(const QString &command, int *status = nullptr)
{
    const Sandbox::Result r = Sandbox::sh(command, 600000);
    if (status)
        *status = r.exitCode;
    return QString::fromLocal8Bit(r.out);
}

// Before each test: an empty set folder, and none of the files an earlier run may have left.
inline void freshStart(const QString &setDir, std::initializer_list<const char *> leftovers)
{
    QDir(setDir).removeRecursively();
    QDir().mkpath(setDir);
    for (const char *f : leftovers)
        QFile::remove(f);
}

inline QString md5Of(const QString &path)
{
    return sh("md5sum < '" + path + "' | cut -d' ' -f1").trimmed();
}

struct EngineRun {
    int status = -1;
    bool timedOut = false;
    QString out;
    QString err;
    // The end of the engine's messages and of its debug log.
    QByteArray why() const
    {
        const QStringList log = QString::fromLocal8Bit(Sandbox::readFile("/var/log/vtl_debug.log")).split('\n');
        return QString("status %1%2\n--- out:\n%3\n--- debug log:\n%4")
            .arg(status)
            .arg(timedOut ? " (timed out)" : "")
            .arg(out.right(3000), log.mid(qMax(0, log.size() - 60)).join('\n'))
            .toLocal8Bit();
    }
};

// vaultine with args, as the console runs it (gauge form Q), on drive as the system drive.
inline EngineRun engine(const QStringList &args, const QString &drive, const QStringList &env = {}, int timeoutMs = 900000)
{
    Sandbox::writeDouble("ahd.sh", "#!/bin/sh\necho " + drive.mid(5) + "\n");
    const Sandbox::Result r = Sandbox::run("vaultine", args, QByteArray(), QStringList{"GUI_TYPE=Q", "-HDD"} + env, timeoutMs);
    if (r.timedOut)
        qWarning("vaultine %s timed out", qPrintable(args.join(' ')));
    return EngineRun{r.exitCode, r.timedOut, QString::fromLocal8Bit(r.out), QString::fromLocal8Bit(r.err)};
}

}

// The engine's status compared with the expected code's low 8 bits, with its output on failure.
#define QCOMPARE_STATUS(run, code)                              \
    do {                                                        \
        if ((run).status != ((code) & 255))                     \
            qWarning("%s", (run).why().constData());            \
        QCOMPARE((run).status, (code) & 255);                   \
    } while (0)
