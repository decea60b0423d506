#include "enablepxedialog.h"
#include "ui_enablepxedialog.h"

#include "logging.h"
#include "utils.h"

#include <QApplication>

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
    layout()->setEnabled(false);
    ui->ckbPxeEnabled->setEnabled(false);
    ui->buttonBox->setEnabled(false);
    utils->SpawnSetPxeSwitchEnable(enable);
    logger->LogMessage(QStringLiteral("PXE Dialog Spawned PXE enable ") + (enable ? "enabled" : "disabled"));
}

void EnablePxeDialog::on_buttonBox_rejected()
{
    reject();
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
