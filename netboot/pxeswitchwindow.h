#pragma once
// The utility's small window: the PXE page shows the report and a switch, the UEFI page shows the
// EFI boot entries and lets the technician pick the first boot entry.

#include <QMainWindow>

#include "pxewrapper.h"

namespace Ui {
class PxeSwitchWindow;
}

class PxeSwitchWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit PxeSwitchWindow(QWidget *parent = nullptr);
    ~PxeSwitchWindow() override;

    void Init();
    void EnableControls(bool enable);
    void UpdateInfoTest();
    void UpdateEfiInfo();

    Ui::PxeSwitchWindow *UiForm() const { return ui; }
    PxeWrapper *Wrapper() const { return wrapper; }

private slots:
    void on_rbPXeEnabled_clicked(bool checked);
    void on_pbRefresh_clicked();
    void on_tabWidget_currentChanged(int index);
    void on_cmbxBootNames_currentIndexChanged(const QString &arg1);
    void on_buttonBox_accepted();
    void on_buttonBox_rejected();

private:
    Ui::PxeSwitchWindow *ui;
    PxeWrapper *wrapper = nullptr;
    bool efiReady = false;
};
