#include "filesourcedialog.h"
#include "ui_filesourcedialog.h"

#include "utils.h"

FileSourceDialog::FileSourceDialog(bool restore, QWidget *parent)
    : QDialog(parent), ui(new Ui::FileSourceDialog)
{
    ui->setupUi(this);
    if (!restore) {
        // The form carries the restore wording; a backup names destinations.
        setWindowTitle(QStringLiteral("Select Backup Destination"));
        const QString from = QStringLiteral("Restore an image from ");
        ui->rbCd->setText(ui->rbCd->text().replace(from, QStringLiteral("Install an image to an ")));
        ui->rbUsb->setText(ui->rbUsb->text().replace(from, QStringLiteral("Install an image to a ")));
        ui->rbNetwork->setText(ui->rbNetwork->text().replace(from, QStringLiteral("Install an image to a ")));
    }
    setModal(true);
    Utils::SetDefaultStyleSheet(this, QString());
}

FileSourceDialog::~FileSourceDialog()
{
    delete ui;
}

void FileSourceDialog::accept()
{
    if (ui->rbCd->isChecked())
        selection = Cd;
    else if (ui->rbUsb->isChecked())
        selection = Usb;
    else if (ui->rbNetwork->isChecked())
        selection = Network;
    else
        return;
    QDialog::accept();
}
