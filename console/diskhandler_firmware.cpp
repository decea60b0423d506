// DiskHandler's firmware installation: from the production server through the family's partition
// and install scripts, or from a firmware archive on a USB stick or CD, unpacked and copied onto
// the freshly made partitions.
#include "diskhandler.h"

#include "drivejob.h"
#include "logging.h"
#include "progress.h"
#include "serverhandler.h"
#include "utils.h"
#include "waitloop.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

static const QString HD_P1 = QStringLiteral("/mnt/hd/p1");
static const QString HD_P4 = QStringLiteral("/mnt/hd/p4");
static const QString MODALITY_INSTALL = QStringLiteral("/boot/modality.install");
static const QString MODALITY_FACTORY = QStringLiteral("/boot/modality.factory");
static const qint64 LARGE_DRIVE = 1228798;   // compared with driveSize (bytes)
static const int REUNPACK_SECONDS = 300;
static const int NO_DRIVE = ResultCode::NoDrive;
static const int COPY_FAILED = ResultCode::CopyFailed;
static const int NOT_UNPACKED = ResultCode::NotUnpacked;
static const QString INSTALL_JOB = QStringLiteral("A firmware install");
static const qint64 CHUNK = 4 * 1024 * 1024;

namespace {

// The busy marker for the length of an install, cleared on every way out; nested installs
// (a server install calling the family's installer) clear it once, when the outer one ends.
class BusyMarker
{
public:
    BusyMarker()
    {
        if (depth++ == 0)
            Utils::setBusyFlag();
    }
    ~BusyMarker()
    {
        if (--depth == 0)
            Utils::clearBusyFlag();
    }

private:
    static int depth;
};
int BusyMarker::depth = 0;

// The family of a version text: its leading number ("16" of 16.5.2), -1 when it has none.
int family(const QString &version)
{
    int digits = 0;
    while (digits < version.size() && version.at(digits).isDigit())
        ++digits;
    bool ok = false;
    const int number = version.left(digits).toInt(&ok);
    return ok ? number : -1;
}

// A script or tool under a progress dialog of its own; its exit code.
int runUnderProgress(const QString &program, const QStringList &args, const QString &envEntry = QString())
{
    return Utils::GetInstance()->ExecuteProgressShell(program, args, nullptr, true, envEntry);
}

// The production server for the install scripts (they fetch the firmware from it).
QString serverEnvironment()
{
    return QStringLiteral("PXE_SERVER=") + ServerHandler::GetInstance()->serverIp;
}

// Copies a file piece by piece, keeping the window served; an existing target is kept.
bool copyFile(const QString &source, const QString &target)
{
    if (QFile::exists(target))
        return true;
    QFile in(source), out(target);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    QDir().mkpath(QFileInfo(target).absolutePath());
    if (!out.open(QIODevice::WriteOnly))
        return false;
    while (!in.atEnd()) {
        const QByteArray piece = in.read(CHUNK);
        if (piece.isEmpty() || out.write(piece) != piece.size()) {
            out.close();
            out.remove();
            return false;
        }
        WaitLoop::ServePending();
    }
    return out.flush();
}

// The archive name's version part: "LYX-64X_16.5.2" gives 16.5.2.
QString versionOfName(const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    const int underscore = name.indexOf('_');
    return underscore < 0 ? QString() : name.mid(underscore + 1);
}

void logUefiPlatform()
{
    Logging(2) << "UEFI platform" << int(QFile::exists(QStringLiteral("/sys/firmware/efi/fw_platform_size")));
}

} // namespace

// ---- from the production server --------------------------------------------------------------

int DiskHandler::InstallImage(const QString &model, const QString &version)
{
    DriveJob job(INSTALL_JOB);
    if (!job.Taken()) {
        lastError = DriveJob::BusyText();
        return ResultCode::DriveBusy;
    }
    BusyMarker busy;
    if (activeDrive.isEmpty()) {
        Logging(2) << "InstallImage: no system drive";
        return NO_DRIVE;
    }
    switch (family(version)) {
    case 9:
        return InstallVersion9(model, version);
    case 10:
        return InstallVersion10(model, version);
    case 12:
        return InstallVersion12(model, version);
    case 16:
        return InstallVersion16(model, version);
    default:
        Logging(2) << "Unknown Version type" << version;
        return UnknownVersion;
    }
}

// Families 9, 10 and 12: partition, then install with the drive, model and version.
static int partitionThenInstall(const QString &name, const QString &partScript, const QStringList &partArgs,
                                const QString &installScript, const QStringList &installArgs)
{
    Logging(2) << name << partScript << partArgs << installScript << installArgs;
    const int prepared = runUnderProgress(partScript, partArgs);
    Logging(2) << "parition prep completed with" << prepared;
    if (prepared != 0)
        return prepared;
    Logging(2) << installScript;
    const int installed = runUnderProgress(installScript, installArgs, serverEnvironment());
    Logging(2) << "Install completed with" << installed;
    return installed;
}

int DiskHandler::InstallVersion9(const QString &model, const QString &version)
{
    return partitionThenInstall(QStringLiteral("InstallVersion9"), QStringLiteral("qt_part.sh"),
                                {activeDrive, QStringLiteral("9"), QStringLiteral("21"), QStringLiteral("12"), QStringLiteral("Y")},
                                QStringLiteral("qt_install.sh"), {activeDrive, model, version});
}

int DiskHandler::InstallVersion10(const QString &model, const QString &version)
{
    Logging(2) << "InstallVersion10" << model << version;
    const int prepared = PartitionVersion10();
    Logging(2) << "parition prep completed with" << prepared;
    if (prepared != 0)
        return prepared;
    Logging(2) << "qt_install_10.sh";
    const int installed = runUnderProgress(QStringLiteral("qt_install_10.sh"), {activeDrive, model, version},
                                           serverEnvironment());
    Logging(2) << "Install completed with" << installed;
    return installed;
}

int DiskHandler::InstallVersion12(const QString &model, const QString &version)
{
    Logging(2) << "InstallVersion12" << model << version;
    const int prepared = PartitionVersion12();
    Logging(2) << "parition prep completed with" << prepared;
    if (prepared != 0)
        return prepared;
    Logging(2) << "qt_install_12.sh";
    const int installed = runUnderProgress(QStringLiteral("qt_install_12.sh"), {activeDrive, model, version},
                                           serverEnvironment());
    Logging(2) << "Install completed with" << installed;
    return installed;
}

int DiskHandler::PartitionVersion10()
{
    const bool large = driveSize > LARGE_DRIVE;
    return runUnderProgress(QStringLiteral("qt_part_10.sh"),
                            {activeDrive, large ? QStringLiteral("660") : QStringLiteral("400"),
                             large ? QStringLiteral("320") : QStringLiteral("100")});
}

int DiskHandler::PartitionVersion12()
{
    const bool large = driveSize > LARGE_DRIVE;
    const QStringList sizes = large ? QStringList{QStringLiteral("48"), QStringLiteral("48"), QStringLiteral("100")}
                                    : QStringList{QStringLiteral("24"), QStringLiteral("30"), QStringLiteral("20")};
    return runUnderProgress(QStringLiteral("qt_part.sh"), QStringList{activeDrive} + sizes + QStringList{QStringLiteral("Y")});
}

int DiskHandler::PartitionVersion16()
{
    return runUnderProgress(QStringLiteral("qt_part_10.sh"), {activeDrive, QStringLiteral("660")});
}

QString DiskHandler::ModalityName(const QString &model, const QString &version)
{
    const QStringList parts = version.split('.');
    if (parts.size() <= 2)
        return QString();
    bool majorOk = false, minorOk = false;
    const int major = parts.at(0).toInt(&majorOk);
    const int minor = parts.at(1).toInt(&minorOk);
    if (!majorOk || !minorOk)
        return QString();
    Logging(2) << "Checking version" << major << minor;
    if (!model.contains(QLatin1String("LYX")) || !((major == 16 && minor > 4) || major > 16))
        return QString();
    QString name = model;
    name.replace(QStringLiteral("64"), model.startsWith(QLatin1String("LYX-64")) ? QString() : QStringLiteral("-"));
    Logging(2) << "Model" << model << "LYX Modality" << name;
    return name;
}

int DiskHandler::InstallVersion16(const QString &model, const QString &version)
{
    Logging(2) << "InstallVersion16" << model << version;
    BusyMarker busy;
    int result = 0;
    if (!version.toLower().startsWith(QLatin1String("addon"))) {
        Logging(2) << "Check firmware size";
        result = CheckFirmwareSize(model, version);
        Logging(2) << "Check firmware size returned" << result;
        if (result != 0)
            return result;
        result = PartitionVersion16();
        Logging(2) << "parition prep completed with" << result;
        if (result != 0)
            return result;
    }
    Logging(2) << "Installing" << model << version;
    result = runUnderProgress(QStringLiteral("qt_install_16.sh"), {activeDrive, model, version}, serverEnvironment());
    Logging(2) << "Install completed with" << result;
    if (result == 0) {
        const QString modality = ModalityName(model, version);
        if (!modality.isEmpty())
            SetModalityFile(modality);
    }
    return result;
}

int DiskHandler::CheckFirmwareSize(const QString &model, const QString &version)
{
    return runUnderProgress(QStringLiteral("check_firmware_fit.sh"), {activeDrive, model, version}, serverEnvironment());
}

void DiskHandler::SetModalityFile(const QString &name)
{
    const QString device = PartitionDevice(1);
    const QStringList output = Utils::ExecuteShellDebug(QStringLiteral("mount"), {device, QStringLiteral("/boot/")}, 60000);
    Logging(2) << "SetModalityFile -- " << output.join('\n');
    // Only onto partition 1 itself: a failed mount would leave the files in the service
    // system's own /boot.
    bool mounted = false;
    const QStringList mounts = QString::fromLatin1(GetFileByteArray(QStringLiteral("/proc/self/mounts"))).split('\n');
    for (const QString &line : mounts) {
        const QStringList fields = line.split(' ');
        if (fields.size() > 1 && fields.at(1) == QLatin1String("/boot")
            && QFileInfo(fields.at(0)).canonicalFilePath() == QFileInfo(device).canonicalFilePath())
            mounted = true;
    }
    if (mounted && output.size() <= 1) {
        Utils::WriteFile(MODALITY_INSTALL, (name + "\n").toLatin1());
        QFile::copy(MODALITY_INSTALL, MODALITY_FACTORY);   // an existing factory record stays
    } else {
        Logging(2) << "SetModalityFile -- partition 1 not mounted on /boot, nothing recorded";
    }
    Utils::ExecuteShell(QStringLiteral("umount"), {QStringLiteral("/boot")}, 60000);
}

// ---- from a firmware archive ----------------------------------------------------------------

QString DiskHandler::GetModelFromUsbPath(const QString &path)
{
    return QFileInfo(path).fileName().section('_', 0, 0);
}

int DiskHandler::InstallFromUsb(const QString &archive)
{
    if (archive.isEmpty())
        return ResultCode::NoArchive;
    DriveJob job(INSTALL_JOB);
    if (!job.Taken()) {
        lastError = DriveJob::BusyText();
        return ResultCode::DriveBusy;
    }
    if (activeDrive.isEmpty()) {
        Logging(2) << "InstallFromUsb: no system drive";
        return NO_DRIVE;
    }
    const QString folder = CheckAndExtract(archive);
    if (folder.isEmpty()) {
        Logging(2) << "Extracted Files Not Found, Aborting USB install";
        return NOT_UNPACKED;
    }
    const QString version = versionOfName(QFileInfo(archive).completeBaseName());
    Logging(2) << "install from USB " << version;
    BusyMarker busy;
    switch (family(version)) {
    case 16:
        return InstallUsbVersion16(folder);
    case 12:
        return InstallUsbVersion12(folder);
    case 10:
        return InstallUsbVersion10(folder);
    default:
        return InstallUsbAddon(folder);
    }
}

QString DiskHandler::CheckAndExtract(const QString &archive)
{
    const QFileInfo archiveInfo(archive);
    const QString folder = archiveInfo.absolutePath() + "/upgrade/" + archiveInfo.completeBaseName();
    auto markerOf = [&folder]() {
        const QString list = folder + "/files.md5";
        const QString manifest = folder + "/packages/manifest.txt";
        return !QFile::exists(list) && QFile::exists(manifest) ? manifest : list;
    };
    QString marker = markerOf();
    if (QFile::exists(marker)) {
        // Unpacked within 300 seconds of the archive's arrival: the copy may have been still going
        // on, so unpack again.
        const QDateTime archiveTime = archiveInfo.metadataChangeTime();
        const QDateTime markerTime = QFileInfo(marker).metadataChangeTime();
        if (!archiveTime.isValid() || !markerTime.isValid() || markerTime <= archiveTime.addSecs(REUNPACK_SECONDS)) {
            Logging(2) << "tar" << archiveTime.toString(Qt::ISODate) << markerTime.toString(Qt::ISODate);
            QFile::remove(marker);
        }
    }
    if (!QFile::exists(marker)) {
        QDir().mkpath(folder);
        // tar prints a checkpoint line every N records of 10240 bytes: about a hundred in all.
        const qint64 checkpoint = qMax<qint64>(1, archiveInfo.size() / 1048576);
        Progress dialog{QString()};
        dialog.setWindowTitle(QStringLiteral("Extracting "));
        dialog.SetTitleLabel(QStringLiteral("Extracting ") + archiveInfo.fileName());
        const int result = Utils::GetInstance()->ExecuteProgressShell(
            QStringLiteral("tar"), {QStringLiteral("-C"), folder, QStringLiteral("-xaf"), archive,
                                    QStringLiteral("--checkpoint=%1").arg(checkpoint), QStringLiteral("--no-same-owner")},
            &dialog, true);
        dialog.close();
        Logging(2) << "tar returned" << result;
        marker = markerOf();
        if (result != 0) {
            // A truncated archive or a full stick: what came out is incomplete, even when the
            // list came out whole. Without its list the next install unpacks it again.
            Logging(2) << "CheckAndExtract: unpacking" << archive << "failed";
            QFile::remove(marker);
            return QString();
        }
    }
    const bool found = QFile::exists(marker);
    Logging(2) << "CheckFile" << marker << int(found);
    return found ? folder : QString();
}

int DiskHandler::CheckFirmwareSize(const QString &folder)
{
    // Sizes in 64 bits: a firmware of several GiB must not wrap round and pass.
    qint64 firmwareSize = 0;
    const QStringList lines = GetFileString(folder + "/files.md5").split('\n');
    for (const QString &line : lines) {
        const QStringList fields = line.simplified().split(' ', Qt::SkipEmptyParts);
        if (fields.size() != 3 || fields.at(0).startsWith('#'))
            continue;
        bool ok = false;
        const qint64 size = fields.at(2).toLongLong(&ok);
        if (ok && size > 0)
            firmwareSize += size;
    }
    // The sysfs size counts 512-byte units whatever the drive's sector size.
    bool ok = false;
    const qint64 sectors = QString::fromLatin1(Utils::ReadFileHead(QStringLiteral("/sys/class/block/%1/size").arg(activeDrive), 64))
                               .trimmed().toLongLong(&ok);
    const qint64 diskSize = ok ? sectors * 512 : 0;
    Logging(2) << QStringLiteral("CheckFirmwareSize, fw size=%1, disk size = %2").arg(firmwareSize).arg(diskSize);
    return firmwareSize + 99999 < diskSize ? 0 : FirmwareTooLarge;
}

int DiskHandler::InstallUsbVersion16(const QString &folder)
{
    Logging(2) << "InstallUsbVersion16" << folder;
    const QString name = QFileInfo(folder).fileName();
    if (!name.contains(QLatin1String("Addon"), Qt::CaseInsensitive)) {
        int result = CheckFirmwareSize(folder);
        if (result != 0) {
            Logging(2) << "Drive too small?";
            return result;
        }
        result = PartitionVersion16();
        Logging(2) << "parition prep completed with" << result;
        if (result != 0)
            return result;
    }
    logUefiPlatform();
    const int result = CopyPackageData(folder, false, false);
    Logging(2) << "InstallUsbVersion16" << "Complete" << result;
    const QString model = GetModelFromUsbPath(folder);
    if (result == 0 && !model.contains(QLatin1String("Addon"))) {
        const QString modality = ModalityName(model, versionOfName(name));
        if (!modality.isEmpty())
            SetModalityFile(modality);
    }
    return result;
}

int DiskHandler::InstallUsbVersion12(const QString &folder)
{
    Logging(2) << "InstallUsbVersion12" << folder;
    const int prepared = PartitionVersion12();
    Logging(2) << "parition prep completed with" << prepared;
    if (prepared != 0)
        return prepared;
    logUefiPlatform();
    return CopyPackageData(folder, true, false);
}

int DiskHandler::InstallUsbVersion10(const QString &folder)
{
    Logging(2) << "InstallUsbVersion10" << folder;
    const int prepared = PartitionVersion10();
    Logging(2) << "parition prep completed with" << prepared;
    if (prepared != 0)
        return prepared;
    logUefiPlatform();
    return CopyPackageData(folder, true, false);
}

int DiskHandler::InstallUsbAddon(const QString &folder)
{
    Logging(2) << "InstallUsbAddon" << folder;
    logUefiPlatform();
    return CopyPackageData(folder, !QFile::exists(folder + "/files.md5"), true);
}

QString DiskHandler::SafeRelativeName(const QString &name)
{
    if (name.isEmpty() || name.startsWith('/') || name.startsWith('~'))
        return QString();
    for (const QString &part : name.split('/'))
        if (part == QLatin1String(".."))
            return QString();
    return QDir::cleanPath(name);
}

int DiskHandler::CopyPackageData(const QString &folder, bool olderLayout, bool addon)
{
    Logging(2) << "DiskHandler::CopyPackageData" << folder << int(olderLayout);
    if (!MountPartition(1)) {
        Logging(2) << "CopyPackageData: partition 1 could not be mounted";
        return COPY_FAILED;
    }
    Progress dialog{QString()};
    dialog.setWindowTitle(QStringLiteral("Installing "));
    dialog.SetTitleLabel(QStringLiteral("Installing ") + QFileInfo(folder).fileName());
    dialog.show();
    int result = 0;

    if (olderLayout) {
        if (!MountPartition(4)) {
            Logging(2) << "CopyPackageData: partition 4 could not be mounted";
            return COPY_FAILED;
        }
        const QString packages = folder + "/packages";
        QStringList names;
        for (const QString &line : GetFileString(packages + "/packages").split('\n'))
            if (!line.trimmed().isEmpty() && !line.startsWith('#'))
                names << line.trimmed();
        const int steps = names.size() + 1;
        dialog.setLabel(QStringLiteral("Copying rootfs ..."));
        if (!CheckAndCopy(packages, QStringLiteral("root"), true))
            result = COPY_FAILED;
        dialog.setProgress(100 / steps);
        for (int i = 0; i < names.size(); ++i) {
            dialog.setLabel(QStringLiteral("Copying ") + names.at(i) + " ...");
            CheckAndCopy(packages, names.at(i), false);   // a mismatch skips that package only
            dialog.setProgress(100 * (i + 2) / steps);
        }
        dialog.setProgress(100);
        Utils::ExecuteShell(QStringLiteral("sleep 0.500"), 60000);
    } else {
        Utils::ExecuteShell(QStringLiteral("mkdir"), {QStringLiteral("-p"), HD_P1 + "/packages"}, 60000);
        struct Item {
            QString name;
            qint64 size;
        };
        QList<Item> items;
        qint64 total = 0;
        for (const QString &line : GetFileString(folder + "/files.md5").split('\n')) {
            const QStringList fields = line.simplified().split(' ', Qt::SkipEmptyParts);
            if (fields.size() < 2 || line.startsWith('#') || fields.at(1) == QLatin1String("remove"))
                continue;
            const QString name = SafeRelativeName(fields.at(1));
            if (name.isEmpty()) {
                Logging(2) << "CopyPackageData: refused" << fields.at(1) << "(outside the archive's folder)";
                continue;
            }
            const qint64 size = qMax<qint64>(0, fields.value(2).toLongLong());
            items.append({name, size});
            total += size;
        }
        qint64 done = 0;
        for (const Item &item : qAsConst(items)) {
            dialog.setLabel(QStringLiteral("Copying ") + item.name + " ...");
            const bool copied = copyFile(folder + "/" + item.name, HD_P1 + "/" + item.name);
            Logging(2) << item.name << int(copied);
            if (!copied)
                result = COPY_FAILED;
            done += item.size;
            dialog.setProgress(total > 0 ? int(done * 100 / total) : 100);
        }
        if (addon) {
            const QString model = GetModelFromUsbPath(folder).remove('/');
            copyFile(folder + "/files.md5", HD_P1 + "/files-" + model + ".txt");
        }
    }
    Utils::ExecuteShell(QStringLiteral("sync"), 60000);
    dialog.close();
    return result;
}

bool DiskHandler::CheckAndCopy(const QString &folder, const QString &baseName, bool extract)
{
    // A package name is a file name in the packages folder, nothing more.
    if (baseName.contains('/') || baseName == QLatin1String("..") || baseName.isEmpty()) {
        Logging(2) << "CheckAndCopy: refused" << baseName;
        return false;
    }
    const QString data = folder + "/" + baseName + (extract ? ".tar" : ".squash");
    const QString sumFile = folder + "/" + baseName + ".md5";
    const QString expected = GetFileString(sumFile).simplified().section(' ', 0, 0).toLower();
    const QString actual = GetMd5sum(data);
    if (expected.isEmpty() || expected != actual) {
        Logging(2) << "MD5 comparison failed" << data << expected << actual;
        return false;
    }
    if (extract) {
        Logging(2) << "Extract root";
        // tar's verdict is its exit status: a warning on a good archive is no failure, and a
        // failure is one even when it printed nothing.
        int exitCode = 0;
        const QStringList output = Utils::ExecuteShellDebug(QStringLiteral("tar"), {QStringLiteral("-C"), HD_P1,
                                                            QStringLiteral("-xaf"), data}, 600000, &exitCode);
        if (exitCode != 0)
            Logging(2) << "Extract root failed" << exitCode << output.join(QStringLiteral(" / "));
        return exitCode == 0;
    }
    return copyFile(data, HD_P4 + "/" + baseName + ".squash") && copyFile(sumFile, HD_P4 + "/" + baseName + ".md5");
}

QString DiskHandler::GetMd5sum(const QString &file)
{
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return QString();
    QCryptographicHash hash(QCryptographicHash::Md5);
    while (!in.atEnd()) {
        const QByteArray piece = in.read(CHUNK);
        if (piece.isEmpty())
            break;
        hash.addData(piece);
        WaitLoop::ServePending();
    }
    return QString::fromLatin1(hash.result().toHex());
}

QString DiskHandler::GetFileString(const QString &file)
{
    return QString::fromUtf8(GetFileByteArray(file));
}

QByteArray DiskHandler::GetFileByteArray(const QString &file)
{
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return QByteArray();
    return in.readAll();
}
