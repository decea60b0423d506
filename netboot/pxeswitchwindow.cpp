#include "pxeswitchwindow.h"
#include "ui_pxeswitchwindow.h"

#include <QApplication>

PxeSwitchWindow::PxeSwitchWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::PxeSwitchWindow)
{
    ui->setupUi(this);
    EnableControls(false);
}

PxeSwitchWindow::~PxeSwitchWindow()
{
    delete ui;
}

void PxeSwitchWindow::EnableControls(bool enable)
{
    ui->buttonBox->setEnabled(enable);
    ui->rbPXeEnabled->setEnabled(enable);
    ui->pbRefresh->setEnabled(enable);
}

void PxeSwitchWindow::Init()
{
    EnableControls(false);
    wrapper = new PxeWrapper(this);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    ui->rbPXeEnabled->setChecked(wrapper->IsPxeEnabled());
    UpdateInfoTest();
    QApplication::restoreOverrideCursor();
    EnableControls(true);
}

void PxeSwitchWindow::UpdateInfoTest()
{
    ui->pteInfo->clear();
    ui->pteInfo->appendPlainText(wrapper->queryPxeInfo().join("\n"));
}

void PxeSwitchWindow::UpdateEfiInfo()
{
    ui->pteEfiInfo->clear();
    ui->pteEfiInfo->appendPlainText(wrapper->GetEfiInfo().join("\n"));
    const QString current = wrapper->GetEfiBootName();
    const QStringList names = wrapper->GetEfiNames();
    ui->cmbxBootNames->clear();
    ui->cmbxBootNames->addItems(names);
    ui->cmbxBootNames->setCurrentText(current);
}

void PxeSwitchWindow::on_rbPXeEnabled_clicked(bool checked)
{
    EnableControls(false);
    wrapper->SetPxeEnable(checked);
    UpdateInfoTest();
    EnableControls(true);
}

void PxeSwitchWindow::on_pbRefresh_clicked()
{
    EnableControls(false);
    wrapper->ReInit(false);
    ui->rbPXeEnabled->setChecked(wrapper->IsPxeEnabled());
    UpdateInfoTest();
    EnableControls(true);
}

// The EFI data is shown afresh each time the page is entered; while the list is being filled the
// combo box's own index changes must not move the boot order.
void PxeSwitchWindow::on_tabWidget_currentChanged(int index)
{
    if (index != 1)
        return;
    efiReady = false;
    UpdateEfiInfo();
    efiReady = true;
}

void PxeSwitchWindow::on_cmbxBootNames_currentIndexChanged(const QString &arg1)
{
    if (!wrapper)
        return;
    const QString current = wrapper->GetEfiBootName();
    if (efiReady && arg1 != current)
        wrapper->SetPxeBootDevice(arg1);
}

void PxeSwitchWindow::on_buttonBox_accepted()
{
    hide();
    close();
}

void PxeSwitchWindow::on_buttonBox_rejected()
{
    hide();
    close();
}

int RunWindowed(int argc, char *argv[])
{
    QApplication app(argc, argv);
    PxeSwitchWindow window;
    window.show();
    window.Init();
    return app.exec();
}
