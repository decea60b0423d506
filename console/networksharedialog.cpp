#include "networksharedialog.h"
#include "ui_networksharedialog.h"

#include "utils.h"

#include <QRegularExpression>

NetWorkShareDialog::NetWorkShareDialog(QWidget *parent)
    : QDialog(parent), ui(new Ui::NetWorkShareDialog)
{
    ui->setupUi(this);
    ui->lblError->hide();
    setModal(true);
    Utils::SetDefaultStyleSheet(this, QString());
}

NetWorkShareDialog::~NetWorkShareDialog()
{
    delete ui;
}

QString NetWorkShareDialog::SharePath(const QString &typed)
{
    QString share = typed.trimmed();
    share.replace('\\', '/');
    // A server and a share name, nothing else: the path is handed to mount as one argument, and
    // a text that does not begin with "//" (say "-o ...") must never get that far.
    static const QRegularExpression form(QStringLiteral("^//[^/\\s]+/[^/\\s].*$"));
    return form.match(share).hasMatch() ? share : QString();
}

void NetWorkShareDialog::accept()
{
    const QString share = SharePath(ui->lePath->text());
    if (share.isEmpty()) {
        ui->lblError->setText(QStringLiteral("The network path must read //server/ShareName."));
        ui->lblError->show();
        ui->lePath->setFocus();
        return;
    }
    path = share;
    userName = ui->leUserName->text().trimmed();
    // A password may begin or end with a blank.
    password = ui->lePassword->text();
    domain = ui->leDomain->text().trimmed();
    QDialog::accept();
}
