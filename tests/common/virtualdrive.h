#pragma once
// A virtual drive for tests: a sparse image on a loop device inside the sandbox, partitioned by
// the real sgdisk/sfdisk and probed with partprobe. Detached when the object goes away (and by
// the sandbox's own clean-up if the test dies first).

#include <QString>
#include <QStringList>

class VirtualDrive
{
public:
    // size in truncate's units, e.g. "64M", "11G"
    VirtualDrive(const QString &name, const QString &size);
    ~VirtualDrive();
    VirtualDrive(const VirtualDrive &) = delete;
    VirtualDrive &operator=(const VirtualDrive &) = delete;

    bool isValid() const { return !m_device.isEmpty(); }
    QString device() const { return m_device; }          // /dev/loop3
    QString kernelName() const;                           // loop3
    QString image() const { return m_image; }
    QString partition(int number) const;                  // /dev/loop3p2

    bool makeGpt(const QStringList &sgdiskArgs);          // fresh GPT, then probe
    bool makeDos(const QString &sfdiskScript);            // fresh DOS table, then probe
    bool probe();
    // "ntfs", "ext4" or "vfat" on partition number.
    bool makeFileSystem(int number, const QString &type, const QString &label = QString());
    // Mounts a partition with the tool this machine needs for its type (ntfs-3g, fusefat, mount).
    bool mount(int number, const QString &type, const QString &dir);
    static bool unmount(const QString &dir);
    // Makes ahd.sh name this drive as the unit's system drive.
    bool setAsSystemDrive();

private:
    QString m_name;
    QString m_image;
    QString m_device;
};
