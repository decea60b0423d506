// The main window's production server rows: "Install Image" (on_pbInstallImage_clicked),
// "Production Server IP" (on_pbProdServerIP_clicked), and the install a management server asks
// for through /tmp/mgr-requested-install (installImage_webrequest).

#include "pxeclient.h"
#include "ui_pxeclient.h"

#include "diskhandler.h"
#include "drivejob.h"
#include "logging.h"
#include "modelsdialog.h"
#include "serverhandler.h"
#include "serveripdialog.h"
#include "versionsdialog.h"

#include <QFile>
#include <QMessageBox>

void PxeClient::on_pbInstallImage_clicked()
{
    // 1. The drive, held from the first dialog to the result box, and a server that answers.
    DriveAction action(this, ui->pbInstallImage->text());
    if (!action.MayGoOn())
        return;
    if (!serverHandler->VerifyServerIp(QString())) {
        QMessageBox::critical(this, QStringLiteral("Failure"), QStringLiteral("Could not contact the PXE server"));
        return;
    }
    // 2. and 3. Model, then version; Back returns to the models, Cancel ends it all.
    QString model, version;
    while (version.isEmpty()) {
        QStringList models = serverHandler->GetModels();
        models.sort(Qt::CaseSensitive);
        ModelsDialog modelsDialog(models);
        if (modelsDialog.exec() != QDialog::Accepted)
            return;
        model = modelsDialog.selection;
        if (model.isEmpty())
            continue;
        while (version.isEmpty()) {
            VersionsDialog versionsDialog(serverHandler->GetVersions(model));
            const bool accepted = versionsDialog.exec() == QDialog::Accepted;
            if (!accepted && versionsDialog.selection == QLatin1String("back"))
                break;
            if (!accepted)
                return;
            version = versionsDialog.selection;
        }
        if (version.isEmpty())
            model.clear();
    }
    Logging(2) << "Version selected" << version;
    if (!action.MayGoOn())
        return;
    // 4. Install and tell the result.
    const int result = diskHandler->InstallImage(model, version);
    Logging(2) << "Install image " << model << " " << version << " Result " << result;
    if (result == 0)
        QMessageBox::information(this, QStringLiteral("Success"), QStringLiteral("Firmware Installation Successful."));
    else
        QMessageBox::critical(this, QStringLiteral("Failure"),
                              QStringLiteral("Firmware Installation failed  with result code %1").arg(result));
}

void PxeClient::on_pbProdServerIP_clicked()
{
    {
        MenuBusy menu(this);
        ServerIpDialog dialog(serverHandler->GetServerIp(false).trimmed());
        dialog.exec();
        const QString chosen = dialog.selectedIp.trimmed();
        if (!chosen.isEmpty())
            serverHandler->SetServerIp(chosen);
    }
    UpdateInfoLabels();
}

void PxeClient::installImage_webrequest()
{
    // Served from the request queue, never inside another action; while the test bench's engine
    // runs in the background the queue keeps the request. The menu is hidden for the install:
    // a row pressed meanwhile would open its question inside the install's progress runs.
    DriveAction action(this, QStringLiteral("A management install"), false);
    if (!action.MayGoOn())
        return;
    Logging(2) << "Web request to install image has been received";
    const QString server = serverHandler->GetServerIp(false);
    Logging(2) << "Server = " << server;
    if (!ui->lblInfo1->text().contains(server))
        UpdateInfoLabels();
    QFile request(MGR_INSTALL_FILE);
    if (request.open(QIODevice::ReadOnly)) {
        const QStringList words = QString::fromLatin1(request.read(4096)).trimmed().split(' ');
        request.close();
        request.remove();
        if (words.size() >= 2) {
            Logging(2) << "Installing " << words.at(0) << " " << words.at(1);
            const int result = diskHandler->InstallImage(words.at(0), words.at(1));
            Logging(2) << "Install of " << words.at(0) << " " << words.at(1) << " returned" << result;
        }
    }
}
