#include "virtualdrive.h"
#include "sandbox.h"

#include <QDir>

static QString quoted(const QString &text)
{
    QString q = text;
    q.replace('\'', "'\\''");
    return '\'' + q + '\'';
}

VirtualDrive::VirtualDrive(const QString &name, const QString &size)
    : m_name(name)
{
    if (!Sandbox::active())
        return;
    const Sandbox::Result r = Sandbox::sh("sbx_drive " + quoted(name) + ' ' + quoted(size));
    if (r.exitCode == 0) {
        m_device = QString::fromLatin1(r.out).trimmed();
        m_image = Sandbox::root() + "/drives/" + name + ".img";
    }
}

VirtualDrive::~VirtualDrive()
{
    if (m_device.isEmpty())
        return;
    // File systems on it first: a FUSE daemon keeps the partition open.
    Sandbox::sh("grep '^" + m_device + "' /proc/self/mounts | awk '{print $2}' | "
                "while read -r m; do umount -l \"$m\"; done; partx -d " + m_device + "; losetup -d " + m_device);
    QFile::remove(m_image);
}

QString VirtualDrive::kernelName() const
{
    return m_device.mid(5);
}

QString VirtualDrive::partition(int number) const
{
    const bool digitLast = !m_device.isEmpty() && m_device.back().isDigit();
    return m_device + (digitLast ? "p" : "") + QString::number(number);
}

bool VirtualDrive::makeGpt(const QStringList &sgdiskArgs)
{
    QStringList args;
    for (const QString &a : sgdiskArgs)
        args << quoted(a);
    return Sandbox::sh("sbx_gpt " + m_device + ' ' + args.join(' ')).exitCode == 0;
}

bool VirtualDrive::makeDos(const QString &sfdiskScript)
{
    return Sandbox::sh("printf '%s' " + quoted(sfdiskScript) + " | sbx_dos " + m_device).exitCode == 0;
}

bool VirtualDrive::probe()
{
    return Sandbox::sh("sbx_probe " + m_device).exitCode == 0;
}

bool VirtualDrive::makeFileSystem(int number, const QString &type, const QString &label)
{
    const QString part = quoted(partition(number));
    QString cmd;
    if (type == "ntfs")
        cmd = "mkntfs -Q -F " + (label.isEmpty() ? QString() : "-L " + quoted(label) + ' ') + part;
    else if (type == "ext4")
        cmd = "mkfs.ext4 -q -F " + (label.isEmpty() ? QString() : "-L " + quoted(label) + ' ') + part;
    else if (type == "vfat")
        cmd = "mkdosfs " + (label.isEmpty() ? QString() : "-n " + quoted(label) + ' ') + part;
    else
        return false;
    return Sandbox::sh(cmd + " >/dev/null 2>&1").exitCode == 0;
}

bool VirtualDrive::mount(int number, const QString &type, const QString &dir)
{
    QDir().mkpath(dir);
    const QString part = quoted(partition(number));
    QString cmd;
    if (type == "ntfs")
        cmd = "ntfs-3g " + part + ' ' + quoted(dir);
    else if (type == "vfat")
        cmd = "fusefat -o rw+ " + part + ' ' + quoted(dir);
    else
        cmd = "mount " + part + ' ' + quoted(dir);
    return Sandbox::sh(cmd).exitCode == 0;
}

bool VirtualDrive::unmount(const QString &dir)
{
    return Sandbox::sh("sync; umount " + quoted(dir) + " || fusermount -u " + quoted(dir)).exitCode == 0;
}

bool VirtualDrive::setAsSystemDrive()
{
    return Sandbox::sh("sbx_ahd " + m_device).exitCode == 0;
}
