#pragma once
// Read-only facts about the unit, gathered once when the window is built: the firmware (BIOS)
// identity from dmidecode, the system drive from DiskHandler, the network settings from
// NetworkHandler.

#include <QDialog>

namespace Ui {
class SystemInfo;
}

class SystemInfo : public QDialog
{
    Q_OBJECT
public:
    explicit SystemInfo(QWidget *parent = nullptr);
    ~SystemInfo() override;

    Ui::SystemInfo *ui;

public slots:
    void on_buttonBox_accepted();

private:
    static QString FirstLine(const QString &commandLine);
};
