#pragma once
// A drive that takes writes into the page cache and refuses them when they reach the media: a
// loop device over a file served by readfault, whose writes past `goodBytes` fail with an I/O
// error. A tool that only checks its write() calls finishes "successfully" on it.

#include "sandbox.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

class RefusingDrive
{
public:
    RefusingDrive(const QString &name, qint64 sizeBytes, qint64 goodBytes)
        : m_mountPoint("/mnt/" + name)
    {
        const QString server = QCoreApplication::applicationDirPath() + "/readfault";
        const QString image = Sandbox::root() + "/" + name + ".img";
        QDir().mkpath(m_mountPoint);
        if (!QFileInfo(server).isExecutable()
            || Sandbox::sh(QStringLiteral("truncate -s %1 '%2'").arg(sizeBytes).arg(image)).exitCode != 0
            || Sandbox::run(server, {image, m_mountPoint, QString::number(goodBytes), QString::number(sizeBytes), "writes"})
                       .exitCode != 0)
            return;
        m_mounted = true;
        const QString device = QString::fromLocal8Bit(Sandbox::sh("sbx_attach " + m_mountPoint + "/disk").out).trimmed();
        if (device.startsWith("/dev/loop"))
            m_device = device;
    }
    ~RefusingDrive()
    {
        if (!m_device.isEmpty())
            Sandbox::sh("losetup -d " + m_device);
        if (m_mounted)
            Sandbox::sh("umount -l " + m_mountPoint);
    }
    RefusingDrive(const RefusingDrive &) = delete;
    RefusingDrive &operator=(const RefusingDrive &) = delete;

    // Empty when the drive could not be made.
    QString device() const { return m_device; }

private:
    QString m_mountPoint;
    QString m_device;
    bool m_mounted = false;
};
