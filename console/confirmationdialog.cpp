#include "confirmationdialog.h"
#include "ui_confirmationdialog.h"

#include "utils.h"

ConfirmationDialog::ConfirmationDialog(const QString &message, QWidget *parent)
    : QDialog(parent), ui(new Ui::ConfirmationDialog)
{
    ui->setupUi(this);
    ui->lblMessage->setText(message);
    setModal(true);
    Utils::SetDefaultStyleSheet(this, QString());
}

ConfirmationDialog::~ConfirmationDialog()
{
    delete ui;
}
