#include "managercontroldialog.h"
#include "ui_managercontroldialog.h"

#include "constants.h"
#include "utils.h"

#include <QFileInfo>
#include <QFileSystemWatcher>

ManagerControlDialog::ManagerControlDialog(QWidget *parent)
    : QDialog(parent), ui(new Ui::ManagerControlDialog), watcher(new QFileSystemWatcher(this))
{
    ui->setupUi(this);
    Utils::SetDefaultStyleSheet(this, QString());
    connect(watcher, &QFileSystemWatcher::fileChanged, this, &ManagerControlDialog::onFileChanged);
    // The engine may create the files only after the dialog opened: their folder tells.
    connect(watcher, &QFileSystemWatcher::directoryChanged, this, &ManagerControlDialog::onFolderChanged);
    watcher->addPath(QFileInfo(RCV_STATUS_FILE).path());
    onFolderChanged();
}

ManagerControlDialog::~ManagerControlDialog()
{
    delete ui;
}

void ManagerControlDialog::onFolderChanged()
{
    for (const QString &path : {RCV_STATUS_FILE, RCV_TASK_FILE}) {
        if (QFileInfo::exists(path) && !watcher->files().contains(path)) {
            watcher->addPath(path);
            onFileChanged(path);
        }
    }
}

void ManagerControlDialog::onFileChanged(const QString &path)
{
    // At most what the label shows: the file may be huge, or a FIFO someone left there.
    const QString text = QString::fromLatin1(Utils::ReadFileHead(path, 512));
    if (path.contains(QLatin1String("status")))
        ui->lblStatus->setText(text);
    else if (path.contains(QLatin1String("task")))
        ui->lblTask->setText(text);
    // A file replaced (not rewritten) drops out of the watch: take it up again.
    if (QFileInfo::exists(path) && !watcher->files().contains(path))
        watcher->addPath(path);
}
