#include "logindialog.h"
#include "ui_logindialog.h"

#include "utils.h"

const QString LoginDialog::SERVICE_PASSWORD = QStringLiteral("quindrel");

LoginDialog::LoginDialog(QWidget *parent) : QDialog(parent), ui(new Ui::LoginDialog)
{
    ui->setupUi(this);
    Utils::SetDefaultStyleSheet(this, QString());
    ui->lePassword->setFocus();
}

LoginDialog::~LoginDialog()
{
    delete ui;
}

bool LoginDialog::IsServicePassword(const QString &text)
{
    return text == SERVICE_PASSWORD;
}

void LoginDialog::on_buttonBox_accepted()
{
    password = ui->lePassword->text();
    accept();
}

void LoginDialog::on_buttonBox_rejected()
{
    reject();
}

void LoginDialog::on_lePassword_returnPressed()
{
    on_buttonBox_accepted();
}
