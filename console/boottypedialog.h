#pragma once
// UEFI or legacy layout for the firmware installed from now on; Reset drops the technician's
// choice so that the unit's model list decides again.

#include <QDialog>

namespace Ui {
class BootTypeDialog;
}
class Logging;
class QAbstractButton;

class BootTypeDialog : public QDialog
{
    Q_OBJECT
public:
    explicit BootTypeDialog(QWidget *parent = nullptr);
    ~BootTypeDialog() override;

    void GetCurrentStatus();

    bool uefi = false;
    Ui::BootTypeDialog *ui;

public slots:
    void on_buttonBox_accepted();
    void on_buttonBox_rejected();
    void on_buttonBox_clicked(QAbstractButton *button);

private:
    Logging *logger = nullptr;
};
