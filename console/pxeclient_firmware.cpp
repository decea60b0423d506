// The main window's "Install From USB" row (on_pbInstallFromUsb_clicked): a firmware archive on a
// USB stick or CD, chosen by the technician, or at start-up the one archive on the stick.
#include "pxeclient.h"

#include "confirmationdialog.h"
#include "diskhandler.h"
#include "logging.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>

void PxeClient::on_pbInstallFromUsb_clicked()
{
    InstallFromUsb(false);
}

void PxeClient::InstallFromUsb(bool automatic)
{
    // One job from the medium's question to the end of the install.
    DriveAction action(this, automatic ? QStringLiteral("The automatic install") : QStringLiteral("Install From USB"), !automatic);
    if (!action.MayGoOn())
        return;
    // 1. The medium: the USB stick, else the CD.
    QString mountPath = GetUsbMountPath(automatic);
    Logging(2) << "USB Mount path = " << mountPath;
    if (mountPath.isEmpty()) {
        Logging(2) << "USB Mount path is empty, try CDROM";
        DiskHandler *disks = DiskHandler::GetInstance();
        if (!disks->isCdMounted())
            disks->MountCd();
        mountPath = disks->isCdMounted() ? DiskHandler::CD_MOUNT : QString();
        Logging(2) << "CDROM Mount path = " << mountPath;
    }
    // 2. No medium.
    if (mountPath.isEmpty()) {
        Logging(2) << mountPath << " is empty. Aborting USB install";
        QMessageBox::warning(this, QStringLiteral("Could Not Mount USB Drive or CDROM"),
                             QStringLiteral("Failed to mount the USB Drive or CDROM/DVD"));
        return;
    }
    // 3. The archive: chosen and confirmed, or the only one there.
    const QString folder = mountPath + "/firmware";
    QString archive;
    if (!automatic) {
        archive = QFileDialog::getOpenFileName(this, QStringLiteral("Files"), folder, QStringLiteral("(firmware *.tar)"));
        if (archive.isEmpty())
            return;
        ConfirmationDialog question(QStringLiteral("Are you sure you want to install %1 to /dev/%2")
                                        .arg(archive, DiskHandler::GetInstance()->activeDrive), this);
        if (question.exec() != QDialog::Accepted || !action.MayGoOn())
            return;
    } else {
        const QStringList archives = QDir(folder).entryList({QStringLiteral("*.tar")}, QDir::Files, QDir::Name);
        if (archives.size() != 1) {
            Logging(2) << "No tar files found on USB drive. Aborting USB install";
            return;
        }
        archive = QStringLiteral("%1/%2").arg(folder, archives.first());
        Logging(2) << "installing" << archive;
    }
    // 4. Install; reboot afterwards when the boot asked for it.
    const int result = DiskHandler::GetInstance()->InstallFromUsb(archive);
    Logging(2) << "Install from USB" << archive << "returned" << result;
    if (result == 0 && autoInstallReboot)
        RebootUnit();
}

void PxeClient::AutoInstallFirmware()
{
    InstallFromUsb(true);
    Logging(2) << "AutoInstallFirmware complete";
}
