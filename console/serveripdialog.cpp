#include "serveripdialog.h"
#include "ui_serveripdialog.h"

#include "constants.h"
#include "networkhandler.h"
#include "serverhandler.h"
#include "utils.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QMessageBox>

ServerIpDialog::ServerIpDialog(const QString &initialIp, QWidget *parent)
    : QDialog(parent), initialIp(initialIp), ui(new Ui::ServerIpDialog)
{
    ui->setupUi(this);
    ui->leIpAddress->setVisible(!Utils::productionMode);
    ui->cbxIpAddress->setVisible(Utils::productionMode);
    Utils::SetDefaultStyleSheet(this, QString());
    GetServers(QString());
}

ServerIpDialog::~ServerIpDialog()
{
    delete ui;
}

void ServerIpDialog::GetServers(const QString &currentIp)
{
    const QString current = currentIp.isEmpty() ? initialIp : currentIp;
    ui->leIpAddress->setText(current);
    ui->cbxIpAddress->clear();
    servers.clear();
    auto add = [this](const QString &address) {
        const QString trimmed = address.trimmed();
        if (!trimmed.isEmpty() && !servers.contains(trimmed))
            servers << trimmed;
    };

    QFile list(SERVER_LIST_FILE);
    if (list.open(QIODevice::ReadOnly)) {
        const QStringList parts = QString::fromLatin1(list.readAll()).split(' ');
        if (parts.size() >= 2)
            for (const QString &part : parts)
                add(part);
    }
    if (servers.size() < 2) {
        const QString myIp = NetworkHandler::GetInstance()->ipAddress;
        for (const QString &prefix : NetworkHandler::PRODUCTION_PREFIXES)
            if (myIp.startsWith(prefix)) {
                add(NetworkHandler::PRIMARY_SERVER_IP);
                break;
            }
        add(NetworkHandler::SECONDARY_SERVER_IP);
    }
    QFile alternatives(SERVER_ALT_LIST_FILE);
    if (alternatives.open(QIODevice::ReadOnly))
        for (const QString &line : QString::fromLatin1(alternatives.readAll()).split('\n'))
            add(line);
    if (!servers.contains(current))
        servers.prepend(current);

    ui->cbxIpAddress->addItems(servers);
    ui->cbxIpAddress->setCurrentText(current);
}

QString ServerIpDialog::enteredAddress() const
{
    return (Utils::productionMode ? ui->cbxIpAddress->currentText() : ui->leIpAddress->text()).trimmed();
}

void ServerIpDialog::on_buttonBox_accepted()
{
    const QString address = enteredAddress();
    if (!ServerHandler::IsValidAddress(address)) {
        QMessageBox::warning(this, QStringLiteral("IP ADDRESS"), QStringLiteral("Could not validate address"), QMessageBox::Ok);
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    selectedIp = address;
    if (!servers.contains(selectedIp))
        servers.prepend(selectedIp);
    Utils::WriteFile(SERVER_IP_FILE, (selectedIp + "\n").toLatin1());
    Utils::WriteFile(SERVER_LIST_FILE, (servers.join(' ') + "\n").toLatin1());
    QApplication::restoreOverrideCursor();
    accept();
}

void ServerIpDialog::on_buttonBox_rejected()
{
    ServerHandler *server = ServerHandler::GetInstance();
    if (server->GetServerIp(false) != initialIp)
        server->SetServerIp(initialIp);
    reject();
}

void ServerIpDialog::on_buttonBox_clicked(QAbstractButton *button)
{
    if (button->text().toLower() != QLatin1String("reset"))
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    for (const QString &path : {SERVER_IP_FILE, SERVER_LIST_FILE, SERVER_ALT_LIST_FILE})
        QFile::remove(path);
    GetServers(ServerHandler::GetInstance()->GetServerIp(true));
    QApplication::restoreOverrideCursor();
}
