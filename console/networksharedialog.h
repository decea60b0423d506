#pragma once
// The network share to mount at /mnt/smb: its path (//server/ShareName) and the account that
// opens it. The texts are kept once the technician accepts.

#include <QDialog>
#include <QString>

namespace Ui {
class NetWorkShareDialog;
}

class NetWorkShareDialog : public QDialog
{
    Q_OBJECT
public:
    explicit NetWorkShareDialog(QWidget *parent = nullptr);
    ~NetWorkShareDialog() override;

    // The path as mount.cifs takes it: backslashes become slashes; anything that is not
    // //server/ShareName afterwards is no share path (empty).
    static QString SharePath(const QString &typed);

    QString path;
    QString userName;
    QString password;
    QString domain;

    Ui::NetWorkShareDialog *ui;

public slots:
    void accept() override;
};
