#pragma once
// The service terminal's gate: asks for the service password (shown masked). OK or Return keeps
// what was typed in password and accepts; Cancel rejects. The caller compares it.

#include <QDialog>
#include <QString>

namespace Ui {
class LoginDialog;
}

class LoginDialog : public QDialog
{
    Q_OBJECT
public:
    explicit LoginDialog(QWidget *parent = nullptr);
    ~LoginDialog() override;

    // The fixed service password, compared letter for letter: no case folding, no trimming.
    static const QString SERVICE_PASSWORD;
    static bool IsServicePassword(const QString &text);

    Ui::LoginDialog *ui;
    QString password;

public slots:
    void on_buttonBox_accepted();
    void on_buttonBox_rejected();
    void on_lePassword_returnPressed();
};
