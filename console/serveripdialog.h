#pragma once
// The production server's address: typed in (or, in production mode, picked from the known
// servers), checked, and kept in /tmp/serverip and the server list. Reset forgets the files and
// asks the boot again.

#include <QDialog>
#include <QStringList>

namespace Ui {
class ServerIpDialog;
}
class QAbstractButton;

class ServerIpDialog : public QDialog
{
    Q_OBJECT
public:
    explicit ServerIpDialog(const QString &initialIp, QWidget *parent = nullptr);
    ~ServerIpDialog() override;

    QString initialIp;
    QStringList servers;
    QString selectedIp;
    Ui::ServerIpDialog *ui;

public slots:
    void GetServers(const QString &current);
    void on_buttonBox_accepted();
    void on_buttonBox_rejected();
    void on_buttonBox_clicked(QAbstractButton *button);

private:
    // The address the technician accepts: the input that is shown.
    QString enteredAddress() const;
};
