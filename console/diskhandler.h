#pragma once
// The unit's storage as the console sees it: the system (active) drive and its description,
// USB sticks, the CD drive and a network share at their fixed mount points, partitions of the
// system drive, and the wipe. Firmware installation and the image flows are further members of
// this class, in their own source files.

#include "resultcodes.h"

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
    // A drive job: refused (false, lastError says why) while another runs.
    bool WipeHardDrive(const QString &drive = QString());

    // ---- Firmware installation (diskhandler_firmware.cpp) ----
    // From the production server: the family of the version's leading number picks the partition
    // and install scripts; 0 is success, any script's exit code or UnknownVersion otherwise.
    int InstallImage(const QString &model, const QString &version);
    int InstallVersion9(const QString &model, const QString &version);
    int InstallVersion10(const QString &model, const QString &version);
    int InstallVersion12(const QString &model, const QString &version);
    int InstallVersion16(const QString &model, const QString &version);
    int PartitionVersion10();
    int PartitionVersion12();
    int PartitionVersion16();
    // From a firmware archive (a tar in the medium's firmware folder): 0 is success, -1 no path.
    // Both installs are drive jobs: while another runs they return ResultCode::DriveBusy.
    int InstallFromUsb(const QString &archive);
    QString CheckAndExtract(const QString &archive);
    int InstallUsbVersion16(const QString &folder);
    int InstallUsbVersion12(const QString &folder);
    int InstallUsbVersion10(const QString &folder);
    int InstallUsbAddon(const QString &folder);
    // check_firmware_fit.sh's verdict (server form), or the unpacked files against the drive: 0 fits.
    int CheckFirmwareSize(const QString &model, const QString &version);
    int CheckFirmwareSize(const QString &folder);
    int CopyPackageData(const QString &folder, bool olderLayout, bool addon);
    bool CheckAndCopy(const QString &folder, const QString &baseName, bool extract);
    void SetModalityFile(const QString &name);
    static QString GetModelFromUsbPath(const QString &path);
    // The modality a model records from version 16.5 on (LYX models only); empty otherwise.
    static QString ModalityName(const QString &model, const QString &version);
    // A files.md5 name that stays inside its folder (relative, no ".."); empty when it would not.
    static QString SafeRelativeName(const QString &name);
    static QString GetMd5sum(const QString &file);
    static QString GetFileString(const QString &file);
    static QByteArray GetFileByteArray(const QString &file);
    static const int UnknownVersion = ResultCode::UnknownVersion;
    static const int FirmwareTooLarge = ResultCode::FirmwareTooLarge;

    // ---- Image backup and restore (diskhandler_images.cpp) ----
    // The imaging engine on folder/fileName under a progress dialog that its gauge output moves;
    // the engine's exit code (0 is success). type is "bim" (compressed set) or "bin" (raw set).
    // A backup clones (shrinks the NTFS data partition first) for Windows or when _forceClone is set;
    // a restore deploys (reorders and expands) for Windows. Drive jobs: ResultCode::DriveBusy while
    // another runs.
    int Backup(const QString &type, const QString &folder, const QString &fileName, bool windows);
    int Restore(const QString &type, const QString &folder, const QString &fileName, bool windows);
    // The type word of an image set by its main member's name: "bim" for *.bim, else "bin".
    static QString ImageType(const QString &fileName);
    static const QString IMAGING_ENGINE;

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
