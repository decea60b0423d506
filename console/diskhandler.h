#pragma once
// The unit's storage as the console sees it: the system (active) drive and its description,
// USB sticks, the CD drive and a network share at their fixed mount points, partitions of the
// system drive, and the wipe. Firmware installation and the image flows are further members of
// this class, in their own source files.

#include <QObject>
#include <QString>
#include <QStringList>

class Logging;

class DiskHandler : public QObject
{
    Q_OBJECT
public:
    static DiskHandler *GetInstance();

    QString GetActiveHardDrive(bool refresh = false);
    void InitBootDiskInfo();
    QStringList GetPartitionList() const;
    // The node of partition number of the active drive, e.g. /dev/sda2 or /dev/mmcblk0p2.
    QString PartitionDevice(int number) const;

    bool findUsbDrives();
    bool MountUsb();
    bool isUsbMounted();
    void UnmountUsb();
    void UnmountAllUsb();

    void MountCd();
    bool isCdMounted();
    void UnmountCd();

    void MountSmb(const QString &user, const QString &password, const QString &domain, const QString &share);
    QString GetSmbNetworkPath();
    bool isSmbMounted();
    void UnmountSmb();

    bool MountPartition(int number);
    qint64 GetHdCapacityInBlocks(const QString &drive = QString());
    bool WipeHardDrive(const QString &drive = QString());

    // ---- Firmware installation (diskhandler_firmware.cpp) ----

    // ---- Image backup and restore (diskhandler_images.cpp) ----

    // parted's "Disk ...: 15.6GB" size text in bytes (1 when it is not a number).
    static qint64 ParseDriveSize(const QString &text);
    // parted's "Sector size (logical/physical): 512B/4096B" value: the physical size, 4096.
    static QString ParseSectorSize(const QString &text);

    QString activeDrive;
    QString diskDevice;
    QString diskModel;
    QString diskSizeText;
    qint64 driveSize = 0;
    QString sectorSizeText;
    QString partitionTableText;
    QString diskFlags;
    QStringList diskInfoLines;
    QStringList usbDrives;
    QString smbPath;
    QString lastError;

    static bool _forceClone;

    static const QString USB_MOUNT;
    static const QString CD_MOUNT;
    static const QString SMB_MOUNT;
    static const QString CD_DEVICE;

private:
    DiskHandler();
    static bool mountTableHas(const QString &mountPoint);
    void unmountTwice(const QString &mountPoint);

    Logging *logger = nullptr;
};
