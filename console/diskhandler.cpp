#include "diskhandler.h"

#include "constants.h"
#include "drivejob.h"
#include "logging.h"
#include "partitionname.h"
#include "progress.h"
#include "utils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

bool DiskHandler::_forceClone = false;

const QString DiskHandler::USB_MOUNT = QStringLiteral("/mnt/usb");
const QString DiskHandler::CD_MOUNT = QStringLiteral("/mnt/cdr");
const QString DiskHandler::SMB_MOUNT = QStringLiteral("/mnt/smb");
const QString DiskHandler::CD_DEVICE = QStringLiteral("/dev/sr0");

static const int UMOUNT_ROUNDS_MAX = 64;   // stacked mounts removed by MountPartition, at most

DiskHandler *DiskHandler::GetInstance()
{
    static DiskHandler *instance = new DiskHandler();
    return instance;
}

DiskHandler::DiskHandler() : logger(Logging::GetInstance(7, false))
{
    InitBootDiskInfo();
    GetSmbNetworkPath();
}

// ---- the system drive ------------------------------------------------------------------------

QString DiskHandler::GetActiveHardDrive(bool)
{
    activeDrive = Utils::ExecuteShell(QStringLiteral("ahd.sh"), 60000).value(0).trimmed();
    return activeDrive;
}

QString DiskHandler::PartitionDevice(int number) const
{
    return PartitionName::of(QStringLiteral("/dev/") + activeDrive, number);
}

qint64 DiskHandler::ParseDriveSize(const QString &text)
{
    // GiB counts as GB, as the unit has always read it; parted switches to TB for drives of 10 TB
    // and more, and to kB for very small ones.
    static const QList<QPair<QString, double>> units = {
        {QStringLiteral("gb"), 1e9}, {QStringLiteral("gib"), 1e9}, {QStringLiteral("mb"), 1e6},
        {QStringLiteral("tb"), 1e12}, {QStringLiteral("kb"), 1e3}};
    QString size = text.toLower().trimmed();
    double factor = 1;
    for (const auto &unit : units) {
        if (size.contains(unit.first)) {
            size.remove(unit.first);
            factor = unit.second;
        }
    }
    size = size.trimmed();
    bool ok = false;
    double number = size.contains('.') ? size.toDouble(&ok) : double(size.toLongLong(&ok));
    if (!ok)
        return 1;
    return qint64(number * factor + 0.5);
}

QString DiskHandler::ParseSectorSize(const QString &text)
{
    QString size = text.trimmed();
    if (!size.contains('/'))
        return size;
    size = size.mid(size.lastIndexOf('/') + 1);
    if (size.contains(QLatin1String("kb"), Qt::CaseInsensitive)) {
        size.remove(QStringLiteral("kb"), Qt::CaseInsensitive);
        return QString::number(size.toLongLong() * 1024);
    }
    size.remove('B');
    return size;
}

void DiskHandler::InitBootDiskInfo()
{
    diskDevice.clear();
    diskModel.clear();
    diskSizeText.clear();
    driveSize = 0;
    sectorSizeText.clear();
    partitionTableText.clear();
    diskFlags.clear();
    diskInfoLines.clear();
    if (GetActiveHardDrive().isEmpty())
        return;
    diskInfoLines = Utils::ExecuteShell(QStringLiteral("parted /dev/%1 -s print").arg(activeDrive), 60000);
    Utils::LogMsg(diskInfoLines.join('\n') + "\n");
    for (const QString &line : qAsConst(diskInfoLines)) {
        const QStringList parts = line.split(':');
        if (parts.size() < 2)
            continue;
        const QString value = parts.at(1).trimmed();
        if (parts.at(0) == QLatin1String("Model")) {
            diskModel = value;
        } else if (line.startsWith(QLatin1String("Disk Flags"))) {
            diskFlags = value;
        } else if (line.startsWith(QLatin1String("Disk"))) {
            diskDevice = QString(parts.at(0)).remove(QStringLiteral("Disk ")).trimmed();
            diskSizeText = value;
            driveSize = ParseDriveSize(value);
            Logging(2) << "_driveSize" << driveSize;
        } else if (line.startsWith(QLatin1String("Sector size"))) {
            sectorSizeText = ParseSectorSize(value);
        } else if (line.startsWith(QLatin1String("Partition Table"))) {
            partitionTableText = value;
        }
    }
    Logging(2) << QStringLiteral("Drive=%1, model=%2, size=%3, csize=%4, sectorSize=%5")
                      .arg(diskDevice, diskModel, diskSizeText, QString::number(driveSize), sectorSizeText);
}

QStringList DiskHandler::GetPartitionList() const
{
    QStringList partitions;
    for (const QString &line : diskInfoLines)
        if (!line.contains(':'))
            partitions << line;
    return partitions;
}

// ---- USB sticks and CD -----------------------------------------------------------------------

bool DiskHandler::mountTableHas(const QString &mountPoint)
{
    return !Utils::ExecutePipedShell(QStringLiteral("mount"), QStringLiteral("grep %1").arg(mountPoint), 60000)
                .join(QString()).trimmed().isEmpty();
}

void DiskHandler::unmountTwice(const QString &mountPoint)
{
    Utils::ExecuteShell(QStringLiteral("umount -f %1").arg(mountPoint), 60000);
    Utils::ExecuteShell(QStringLiteral("sync"), 60000);
    Utils::ExecuteShell(QStringLiteral("umount -f %1").arg(mountPoint), 60000);
}

bool DiskHandler::findUsbDrives()
{
    usbDrives.clear();
    const QStringList lines = Utils::ExecutePipedShell(QStringLiteral("ls -la /sys/class/block/"),
                                                       QStringLiteral("grep usb"), 60000);
    for (const QString &line : lines) {
        const QStringList fields = line.split(' ', Qt::SkipEmptyParts);
        if (fields.size() < 9)
            continue;
        const QString name = fields.at(8);
        // A USB disk's partitions have a "partition" file; the disk itself has none.
        if (QFile::exists(QStringLiteral("/sys/class/block/%1/partition").arg(name)))
            usbDrives << QStringLiteral("/dev/") + name;
    }
    Logging(2) << "findUsbDrives:UsbDrives" << usbDrives;
    return !usbDrives.isEmpty();
}

bool DiskHandler::MountUsb()
{
    if (findUsbDrives()) {
        QDir().mkpath(USB_MOUNT);
        Utils::ExecuteShell(QStringLiteral("mount %1 %2").arg(usbDrives.first(), USB_MOUNT), 60000);
    }
    Utils::ExecuteShell(QStringLiteral("sync"), 60000);
    return isUsbMounted();
}

bool DiskHandler::isUsbMounted()
{
    const bool mounted = mountTableHas(USB_MOUNT);
    Logging(2) << "USB device mounted" << int(mounted);
    return mounted;
}

void DiskHandler::UnmountUsb()
{
    unmountTwice(USB_MOUNT);
    Logging(2) << "Usb mounted" << int(isUsbMounted());
}

void DiskHandler::UnmountAllUsb()
{
    UnmountCd();
    UnmountUsb();
}

void DiskHandler::MountCd()
{
    QDir().mkpath(CD_MOUNT);
    Utils::ExecuteShell(QStringLiteral("mount %1 %2").arg(CD_DEVICE, CD_MOUNT), 60000);
    Utils::ExecuteShell(QStringLiteral("sync"), 60000);
}

bool DiskHandler::isCdMounted()
{
    const bool mounted = mountTableHas(CD_MOUNT);
    Logging(2) << "CDROM mounted" << int(mounted);
    return mounted;
}

void DiskHandler::UnmountCd()
{
    unmountTwice(CD_MOUNT);
}

// ---- network share ---------------------------------------------------------------------------

void DiskHandler::MountSmb(const QString &user, const QString &password, const QString &domain,
                           const QString &share)
{
    Utils::ExecuteShell(QStringLiteral("mkdir -p %1").arg(SMB_MOUNT), 60000);
    // The credentials go to mount.cifs in a file only root can read, removed after the mount:
    // on the command line every process could read the password, and it never reaches a log.
    QTemporaryFile credentials(QStringLiteral("/tmp/.smb-credentials-XXXXXX"));
    credentials.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    if (!credentials.open()) {
        lastError = QStringLiteral("Could not write the share credentials");
        Logging(2) << "MountSmb:" << lastError;
        return;
    }
    credentials.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    credentials.write(QStringLiteral("username=%1\npassword=%2\ndomain=%3\n").arg(user, password, domain).toUtf8());
    credentials.flush();
    const QStringList args = {QStringLiteral("-t"), QStringLiteral("cifs"), share, SMB_MOUNT, QStringLiteral("-o"),
                              QStringLiteral("rw,credentials=%1,vers=3.0").arg(credentials.fileName())};
    Logging(2) << args.join(' ') << QStringLiteral("(user %1, domain %2, password not shown)").arg(user, domain);
    const QStringList output = Utils::ExecuteShellDebug(QStringLiteral("mount"), args, 100000);
    Logging(2) << output.join('\n');
}

QString DiskHandler::GetSmbNetworkPath()
{
    smbPath.clear();
    const QStringList lines = Utils::ExecuteShell(QStringLiteral("mount"), 60000);
    for (const QString &line : lines)
        if (line.contains(SMB_MOUNT))
            smbPath = line.split(' ', Qt::SkipEmptyParts).value(0);
    return smbPath;
}

bool DiskHandler::isSmbMounted()
{
    return !GetSmbNetworkPath().isEmpty();
}

void DiskHandler::UnmountSmb()
{
    unmountTwice(SMB_MOUNT);
    smbPath.clear();
}

// ---- partitions, capacity, wipe --------------------------------------------------------------

bool DiskHandler::MountPartition(int number)
{
    const QString mountPoint = QStringLiteral("/mnt/hd/p%1").arg(number);
    Utils::ExecuteShellDebug(QStringLiteral("mkdir -p %1").arg(mountPoint), 60000);
    // Remove every mount stacked there: umount is quiet while it takes one off and complains
    // once nothing is left. The rounds are bounded, so a umount that stays quiet without
    // unmounting anything cannot hold the console for ever.
    for (int round = 0; round < UMOUNT_ROUNDS_MAX; ++round) {
        const QStringList output = Utils::ExecuteShellDebug(QStringLiteral("umount %1").arg(mountPoint), 60000);
        if (!output.value(0).isEmpty())
            break;
    }
    Utils::ExecuteShellDebug(QStringLiteral("sh -c \"sync; sleep 0.05\""), 60000);
    const QStringList output = Utils::ExecuteShellDebug(
        QStringLiteral("mount %1 %2").arg(PartitionDevice(number), mountPoint), 60000);
    return output.join(QString()).trimmed().isEmpty();
}

qint64 DiskHandler::GetHdCapacityInBlocks(const QString &drive)
{
    const QString name = drive.isEmpty() ? activeDrive : drive;
    if (name.isEmpty())
        return 0;
    QString path = QStringLiteral("/sys/class/block/%1/size").arg(name);
    if (!QFile::exists(path))
        path = QStringLiteral("/proc/ide/%1/capacity").arg(name);
    const QByteArray head = Utils::ReadFileHead(path, 64);
    bool ok = false;
    const qint64 blocks = QString::fromLatin1(head).split('\n').value(0).trimmed().toLongLong(&ok);
    return ok ? blocks : 0;
}

bool DiskHandler::WipeHardDrive(const QString &drive)
{
    DriveJob job(QStringLiteral("A drive wipe"));
    if (!job.Taken()) {
        lastError = DriveJob::BusyText();
        return false;
    }
    QString name = drive.isEmpty() ? activeDrive : drive;
    if (name.isEmpty()) {
        lastError = QStringLiteral("Drive empty");
        return false;
    }
    if (name.startsWith(QLatin1String("mmc")) && (name.endsWith(QLatin1String("0p")) || name.endsWith(QLatin1String("1p"))))
        name.remove('p');
    const QString device = QStringLiteral("/dev/") + name;
    if (!QFile::exists(QStringLiteral("/sys/class/block/%1/size").arg(name)) || !QFile::exists(device)) {
        Logging(2) << "WipeHardDrive drive not found " << name << device;
        lastError = QStringLiteral("Drive Not Found");
        return false;
    }
    const qint64 capacity = GetHdCapacityInBlocks(name);
    if (capacity == 0) {
        // Nothing would be written: that is no wipe.
        lastError = QStringLiteral("Could not determine drive capacity ");
        Logging(2) << "WipeHardDrive" << lastError << device;
        return false;
    }
    const QStringList args = {QStringLiteral("/dev/zero"), device, QString::number(capacity)};
    Logging(2) << "WipeHardDrive zblit" << args;
    Progress dialog(QStringLiteral("Zeroing blocks on /dev/"));
    dialog.setWindowTitle(QStringLiteral("Wipe Drive"));
    dialog.SetTitleLabel(QStringLiteral("Wipe Drive"));
    // zblit reports to the status file the manager dialog shows; a failure names its reason there.
    QFile::remove(RCV_STATUS_FILE);
    const int result = Utils::GetInstance()->ExecuteProgressShell(QStringLiteral("zblit"), args, &dialog, true,
                                                                  QStringLiteral("RCV_STATUS=") + RCV_STATUS_FILE);
    dialog.close();
    if (result != 0) {
        const QString reason = QString::fromLatin1(Utils::ReadFileHead(RCV_STATUS_FILE)).trimmed();
        lastError = QStringLiteral("Wiping %1 failed (zblit exit code %2)%3")
                        .arg(device).arg(result).arg(reason.isEmpty() ? QString() : QStringLiteral(": ") + reason);
        Logging(2) << "WipeHardDrive" << lastError;
        return false;
    }
    lastError.clear();
    return true;
}
