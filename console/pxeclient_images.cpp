// The main window's backup and restore rows: "Backup" (on_pbCompressedBackup_clicked), "Binary
// Backup" (on_pbBinaryBackup_clicked), "Restore Image" (on_pbRestore_clicked), "Clone Windows"
// (on_pbCloneImage_clicked), "Deploy Windows" (on_pbDeployImage_clicked), and the automatic restore from a USB stick at start-up: where the image lives,
// which file, the question, the engine's run (DiskHandler) and the result box.

#include "pxeclient.h"
#include "ui_pxeclient.h"

#include "confirmationdialog.h"
#include "diskhandler.h"
#include "filesourcedialog.h"
#include "logging.h"
#include "networksharedialog.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

static const QString IMAGE_FILE_DIALOG_TITLE = QStringLiteral("Files");
static const QString RESTORE_FILTERS = QStringLiteral("compressed backups (*.bim);;uncompressed backups (*.bin *.bin.000)");
static const QString COMPRESSED_FILTER = QStringLiteral("compressed (*.bim)");
// Blank-separated: a file dialog reads "*.bin,*.bin.000" as one pattern that matches no set.
static const QString RAW_FILTER = QStringLiteral("uncompressed (*.bin *.bin.000)");
static const QString AUTO_RESTORE_FOLDER = QStringLiteral("/images");

// Our own dialogs, not the desktop's: they look like the rest of the console on the unit's bare X.
static const QFileDialog::Options FILE_DIALOG_OPTIONS = QFileDialog::DontUseNativeDialog;

// The main member's name for the typed name: ".bim" for a compressed set; a raw set ends in
// ".bin", and the name of its first piece (old.bin.000) stands for the set (old.bin).
static QString backupFileName(QString name, bool compressed)
{
    if (compressed) {
        if (!name.endsWith(QLatin1String(".bim")))
            name += QStringLiteral(".bim");
        return name;
    }
    if (name.endsWith(QLatin1String(".000")))
        name.chop(4);
    if (!name.endsWith(QLatin1String(".bin")))
        name += QStringLiteral(".bin");
    return name;
}

// An earlier set of that name: its main member, or its numbered pieces (a Linux set has no main
// member, only N.000 on).
static bool backupExists(const QString &folder, const QString &fileName)
{
    const QString image = folder + QLatin1Char('/') + fileName;
    return QFile::exists(image) || QFile::exists(image + QStringLiteral(".000")) || QFile::exists(image + QStringLiteral(".001"));
}

void PxeClient::on_pbCompressedBackup_clicked()
{
    HandleBackupRestore(false, true, false);
}

void PxeClient::on_pbBinaryBackup_clicked()
{
    // The job starts with its first question; the flow below is a part of it.
    DriveAction action(this, ui->pbBinaryBackup->text());
    if (!action.MayGoOn())
        return;
    const QMessageBox::StandardButton answer = QMessageBox::warning(
        this, ui->pbBinaryBackup->text(),
        QStringLiteral("Binary Backup has been deprecated and should NOT be used.\nPress YES to continue to create a binary backup"),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer == QMessageBox::Yes)
        HandleBackupRestore(false, false, false);
}

void PxeClient::on_pbRestore_clicked()
{
    HandleBackupRestore(true, false, false);
}

void PxeClient::on_pbCloneImage_clicked()
{
    HandleBackupRestore(false, true, true);
}

void PxeClient::on_pbDeployImage_clicked()
{
    HandleBackupRestore(true, false, true);
}

// The row's button text: the job's name in the log and in a "Drive Busy" box.
static QString rowName(bool restore, bool compressed, bool windows)
{
    if (restore)
        return windows ? QStringLiteral("Deploy Windows") : QStringLiteral("Restore Image");
    if (windows)
        return QStringLiteral("Clone Windows");
    return compressed ? QStringLiteral("Backup") : QStringLiteral("Binary Backup");
}

void PxeClient::HandleBackupRestore(bool restore, bool compressed, bool windows)
{
    // One job from the source question to the result box.
    DriveAction action(this, rowName(restore, compressed, windows));
    if (!action.MayGoOn())
        return;
    FileSourceDialog source(restore, this);
    if (source.exec() != QDialog::Accepted)
        return;
    QString mountPath;
    switch (source.selection) {
    case FileSourceDialog::Cd:
        mountPath = GetCdMountPath();
        break;
    case FileSourceDialog::Usb:
        mountPath = GetUsbMountPath(false);
        break;
    case FileSourceDialog::Network:
        mountPath = GetNetworkMountInformation();
        break;
    default:
        break;
    }
    if (mountPath.isEmpty())
        return;
    if (restore)
        RestoreImageFrom(mountPath, windows, action);
    else
        BackupImageTo(mountPath, compressed, windows, action);
}

void PxeClient::RestoreImageFrom(const QString &mountPath, bool windows, const DriveAction &action)
{
    const QString chosen = QFileDialog::getOpenFileName(this, IMAGE_FILE_DIALOG_TITLE, mountPath, RESTORE_FILTERS,
                                                        nullptr, FILE_DIALOG_OPTIONS);
    if (chosen.isEmpty())
        return;
    const QFileInfo info(chosen);
    const QString folder = info.absolutePath();
    const QString fileName = info.fileName();
    Logging(2) << fileName;
    ConfirmationDialog question(QStringLiteral("Are you sure you want to %1 %2")
                                    .arg(windows ? QStringLiteral("deploy") : QStringLiteral("restore"), fileName), this);
    if (question.exec() != QDialog::Accepted || !action.MayGoOn())
        return;
    Logging(2) << "Start Restore" << fileName;
    const int code = diskHandler->Restore(DiskHandler::ImageType(fileName), folder, fileName, windows);
    Logging(2) << "Restore Done" << code;
    ShowBackupRestorePrompt(QStringLiteral("Restore"), code);
}

void PxeClient::BackupImageTo(const QString &mountPath, bool compressed, bool windows, const DriveAction &action)
{
    const QString chosen = QFileDialog::getSaveFileName(this, IMAGE_FILE_DIALOG_TITLE, mountPath,
                                                        compressed ? COMPRESSED_FILTER : RAW_FILTER, nullptr,
                                                        FILE_DIALOG_OPTIONS | QFileDialog::DontConfirmOverwrite);
    if (chosen.isEmpty())
        return;
    const QFileInfo info(chosen);
    const QString folder = info.absolutePath();
    const QString fileName = backupFileName(info.fileName(), compressed);
    // The dialog's own overwrite question is off: this one covers the whole set.
    QString text = QStringLiteral(" Are you sure you want to %1 to %2")
                       .arg(windows ? QStringLiteral("clone") : QStringLiteral("backup"), fileName);
    if (backupExists(folder, fileName))
        text = QStringLiteral("There is already a backup with the name ") + fileName + QStringLiteral("\n") + text;
    ConfirmationDialog question(text, this);
    if (question.exec() != QDialog::Accepted || !action.MayGoOn())
        return;
    Logging(2) << fileName;
    const int code = diskHandler->Backup(compressed ? QStringLiteral("bim") : QStringLiteral("bin"), folder, fileName, windows);
    Logging(2) << "Backup Complete" << code;
    ShowBackupRestorePrompt(QStringLiteral("Backup"), code);
}

QString PxeClient::GetNetworkMountInformation()
{
    if (diskHandler->isSmbMounted()) {
        const QMessageBox::StandardButton answer = QMessageBox::question(
            this, QStringLiteral("Network Drive"),
            QStringLiteral("A network drive mapping already exists for ") + diskHandler->smbPath +
                QStringLiteral(".\n Select \"Yes\" reuse it, or \"No\" to connect to a new network drive."),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
        if (answer == QMessageBox::Yes)
            return DiskHandler::SMB_MOUNT;
        diskHandler->UnmountSmb();
        // A share still in use stays: a new one mounted over it could fail unnoticed, and the
        // old one would then be taken for it.
        if (diskHandler->isSmbMounted()) {
            QMessageBox::warning(this, QStringLiteral("Could Not Mount Network Share"),
                                 QStringLiteral("The network drive %1 could not be disconnected").arg(diskHandler->smbPath));
            return QString();
        }
    }
    NetWorkShareDialog share(this);
    if (share.exec() != QDialog::Accepted)
        return QString();
    diskHandler->MountSmb(share.userName, share.password, share.domain, share.path);
    if (diskHandler->isSmbMounted())
        return DiskHandler::SMB_MOUNT;
    QMessageBox::warning(this, QStringLiteral("Could Not Mount Network Share"), QStringLiteral("Failed to mount the specified share"));
    return QString();
}

void PxeClient::ShowBackupRestorePrompt(const QString &word, int code)
{
    if (code == 0)
        QMessageBox::information(this, QStringLiteral("Success"), QStringLiteral("Image ") + word + QStringLiteral(" Successful."));
    else
        QMessageBox::warning(this, QStringLiteral("Failure"), QStringLiteral("Image ") + word + QStringLiteral(" Failedl."));
}

void PxeClient::AutoRestore()
{
    DriveAction action(this, QStringLiteral("The automatic restore"), false);
    if (!action.MayGoOn())
        return;
    const QString mountPath = GetUsbMountPath(false);
    const QString folder = mountPath + AUTO_RESTORE_FOLDER;
    Logging(2) << "mountPath = " << mountPath << "path = " << folder;
    // Without a stick the folder would be /images of the running system.
    if (mountPath.isEmpty()) {
        Logging(2) << "No USB drive mounted. Aborting USB restore";
        return;
    }
    if (!QFileInfo(folder).isDir()) {
        Logging(2) << "path " << folder << " Does not exist";
        return;
    }
    const QStringList files = QDir(folder).entryList({QStringLiteral("*.bim"), QStringLiteral("*.bin")}, QDir::Files, QDir::Name);
    if (files.size() != 1) {
        Logging(2) << "No backup files found on USB drive. Aborting USB restore";
        return;
    }
    const int code = diskHandler->Restore(DiskHandler::ImageType(files.first()), folder, files.first(), true);
    Logging(2) << "Restore Done" << code;
    if (code != 0 || !autoRestoreReboot)
        ShowBackupRestorePrompt(QStringLiteral("Restore"), code);
    else
        RebootUnit();
}
