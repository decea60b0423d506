#include "boottypedialog.h"
#include "ui_boottypedialog.h"

#include "logging.h"
#include "utils.h"

#include <QAbstractButton>

BootTypeDialog::BootTypeDialog(QWidget *parent)
    : QDialog(parent), ui(new Ui::BootTypeDialog), logger(Logging::GetInstance(7, false))
{
    ui->setupUi(this);
    Utils::SetDefaultStyleSheet(this, QString());
    GetCurrentStatus();
}

BootTypeDialog::~BootTypeDialog()
{
    delete ui;
}

void BootTypeDialog::GetCurrentStatus()
{
    uefi = Utils::GetCurrentBootType();
    (uefi ? ui->rbUefi : ui->rbLegacy)->setChecked(true);
}

void BootTypeDialog::on_buttonBox_accepted()
{
    uefi = ui->rbUefi->isChecked();
    Logging(2) << "Boot type chosen" << (uefi ? "UEFI" : "BIOS/Legacy");
    Utils::SetUefiBootType(uefi);
    accept();
}

void BootTypeDialog::on_buttonBox_rejected()
{
    reject();
}

void BootTypeDialog::on_buttonBox_clicked(QAbstractButton *button)
{
    if (button->text().toLower() != QLatin1String("reset"))
        return;
    Utils::ResetBootType();
    GetCurrentStatus();
}
