// The main window's drive rows: "Wipe Drive" (on_pbWipeDrive_clicked) and "Unmount USB Drive"
// (on_pbUnmountUsb_clicked), and the helpers every row uses to find the system drive, a USB
// stick or the CD, asking the technician when one is missing.

#include "pxeclient.h"
#include "ui_pxeclient.h"

#include "confirmationdialog.h"
#include "diskhandler.h"
#include "drivejob.h"
#include "logging.h"
#include "utils.h"

#include <QMessageBox>

QString PxeClient::GetActiveHardDrive()
{
    activeDrive = diskHandler->GetActiveHardDrive();
    while (activeDrive.isEmpty()) {
        ConfirmationDialog question(QStringLiteral("No Hard Drive Detected:\n  Would you like to scan for the hard drive again?"), this);
        const int answer = question.exec();
        Logging(2) << "Dialog result" << answer;
        if (answer != QDialog::Accepted)
            break;
        Utils::ExecuteShell(QStringLiteral("ahd.sh"), 60000);
        activeDrive = diskHandler->GetActiveHardDrive();
    }
    return activeDrive;
}

QString PxeClient::GetUsbMountPath(bool quiet)
{
    bool mounted = diskHandler->isUsbMounted();
    Logging(2) << "PxeClient::GetUsbMountPath -- Usb Mounted" << int(mounted);
    if (!mounted) {
        Logging(2) << "PxeClient::GetUsbMountPath -- mount USB";
        mounted = diskHandler->MountUsb();
    }
    if (mounted) {
        Logging(2) << "PxeClient::GetUsbMountPath -- USB Mounted";
        return DiskHandler::USB_MOUNT;
    }
    if (!quiet)
        QMessageBox::warning(this, QStringLiteral("Could Not Mount USB Drive"), QStringLiteral("Failed to mount the USB Drive"));
    return QString();
}

QString PxeClient::GetCdMountPath()
{
    if (!diskHandler->isCdMounted())
        diskHandler->MountCd();
    if (diskHandler->isCdMounted())
        return DiskHandler::CD_MOUNT;
    QMessageBox::warning(this, QStringLiteral("Could Not Mount CD Rom"), QStringLiteral("Failed to mount the CD Drive"));
    return QString();
}

void PxeClient::on_pbWipeDrive_clicked()
{
    DriveAction action(this, ui->pbWipeDrive->text());
    if (!action.MayGoOn())
        return;
    // Only a drive that is there is offered for wiping: no question without one.
    activeDrive = diskHandler->GetActiveHardDrive();
    if (activeDrive.isEmpty()) {
        Logging(2) << "Wipe Drive: no system drive";
        QMessageBox::warning(this, QStringLiteral("Wipe Drive"), QStringLiteral("The drive was not wiped: Drive empty"));
        return;
    }
    ConfirmationDialog question(QStringLiteral("Are you certain you want wipe all data from %1?").arg(activeDrive), this);
    const int answer = question.exec();
    Logging(2) << "Dialog result" << answer;
    if (answer != QDialog::Accepted || !action.MayGoOn())
        return;
    Utils::ExecuteShell(QStringLiteral("umountdrives.sh"), 60000);
    if (!diskHandler->WipeHardDrive(activeDrive))
        QMessageBox::warning(this, QStringLiteral("Wipe Drive"),
                             QStringLiteral("The drive was not wiped: %1").arg(diskHandler->lastError));
}

void PxeClient::on_pbUnmountUsb_clicked()
{
    MenuBusy menu(this);
    diskHandler->UnmountUsb();
}
