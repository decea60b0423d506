#include "systeminfo.h"
#include "ui_systeminfo.h"

#include "diskhandler.h"
#include "networkhandler.h"
#include "utils.h"

SystemInfo::SystemInfo(QWidget *parent) : QDialog(parent), ui(new Ui::SystemInfo)
{
    ui->setupUi(this);
    Utils::SetDefaultStyleSheet(this, QString());

    ui->leBiosVendor->setText(FirstLine(QStringLiteral("dmidecode -s bios-vendor")));
    ui->leBiosVersion->setText(FirstLine(QStringLiteral("dmidecode -s bios-version")));
    ui->leBiosDate->setText(FirstLine(QStringLiteral("dmidecode -s bios-release-date")));

    // The drive is read again: it may have been wiped or re-imaged since the start.
    DiskHandler *disk = DiskHandler::GetInstance();
    disk->InitBootDiskInfo();
    ui->lblSysDriveDisk->setText(QStringLiteral("Disk ") + disk->diskDevice);
    ui->leSysDriveModel->setText(disk->diskModel);
    ui->leSysDriveDiskSize->setText(disk->diskSizeText);
    ui->leSysDriveSectorSize->setText(disk->sectorSizeText);
    ui->leSysDrivePartTbl->setText(disk->partitionTableText);
    ui->leSysDriveFlags->setText(disk->diskFlags);
    ui->tePartInfo->appendPlainText(disk->GetPartitionList().join('\n'));

    NetworkHandler *network = NetworkHandler::GetInstance();
    network->GetNetworkInformation();
    ui->leNetworkAdapter->setText(network->interfaceName);
    ui->leNetworkMac->setText(network->macAddress);
    ui->leNetworkIp->setText(network->ipAddress);
    ui->leNetworkMask->setText(network->netmask);

    ui->buttonBox->setFocus();
}

SystemInfo::~SystemInfo()
{
    delete ui;
}

QString SystemInfo::FirstLine(const QString &commandLine)
{
    return Utils::ExecuteShell(commandLine, 60000).value(0);
}

void SystemInfo::on_buttonBox_accepted()
{
    close();
}
