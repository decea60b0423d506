#include "enablepxedialog.h"
#include "ui_enablepxedialog.h"

#include "logging.h"
#include "utils.h"

#include "drivejob.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMessageBox>

EnablePxeDialog::EnablePxeDialog(QWidget *parent)
    : QDialog(parent), ui(new Ui::EnablePxeDialog), utils(Utils::GetInstance()), logger(Logging::GetInstance(7, false))
{
    ui->setupUi(this);
    Utils::SetDefaultStyleSheet(this, QString());
    ui->ckbPxeEnabled->setChecked(Utils::GetPxeSwitchEnabled());
    connect(utils, &Utils::SpawnedThreadFinished, this, &EnablePxeDialog::onSpawnedThreadFinished);
}

EnablePxeDialog::~EnablePxeDialog()
{
    if (switching)
        QApplication::restoreOverrideCursor();
    delete ui;
}

void EnablePxeDialog::accept()
{
    // The dialog closes when the switch has ended, not on Enter.
    logger->LogMessage(QStringLiteral("EnablePxeDialog::accept"));
}

void EnablePxeDialog::on_buttonBox_accepted()
{
    const bool enable = ui->ckbPxeEnabled->isChecked();
    logger->LogMessage(QStringLiteral("PXE Dialog OK Button Pressed"));
    QApplication::setOverrideCursor(Qt::WaitCursor);
    switching = true;
    enableInput(false);
    if (!utils->SpawnSetPxeSwitchEnable(enable)) {
        // Another drive job (or a switch) runs: nothing was started, nothing will finish.
        switching = false;
        QApplication::restoreOverrideCursor();
        enableInput(true);
        logger->LogMessage(QStringLiteral("PXE Dialog switch refused"));
        QMessageBox::warning(this, QStringLiteral("Drive Busy"), DriveJob::BusyText());
        return;
    }
    logger->LogMessage(QStringLiteral("PXE Dialog Spawned PXE enable ") + (enable ? "enabled" : "disabled"));
}

void EnablePxeDialog::enableInput(bool enable)
{
    layout()->setEnabled(enable);
    ui->ckbPxeEnabled->setEnabled(enable);
    ui->buttonBox->setEnabled(enable);
}

void EnablePxeDialog::on_buttonBox_rejected()
{
    reject();
}

void EnablePxeDialog::reject()
{
    // Escape lands here too: the dialog stays until the switch it started has ended.
    if (switching) {
        logger->LogMessage(QStringLiteral("EnablePxeDialog: the switch is still running"));
        return;
    }
    QDialog::reject();
}

void EnablePxeDialog::closeEvent(QCloseEvent *event)
{
    if (switching) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void EnablePxeDialog::onSpawnedThreadFinished(int exitCode)
{
    // Only the switch this dialog started.
    if (!switching)
        return;
    logger->LogMessage(QStringLiteral("Spawned Thread Finished %1").arg(exitCode));
    const bool enabled = Utils::GetPxeSwitchEnabled();
    switching = false;
    QApplication::restoreOverrideCursor();
    logger->LogMessage(QStringLiteral("Spawned Thread Finished Pxe State = ") + (enabled ? "enabled" : "disabled"));
    logger->LogMessage(utils->spawnOutput);
    close();
}
