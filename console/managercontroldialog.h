#pragma once
// Shown while a management server controls the unit (/tmp/mgr_ctl exists): the engine's task and
// status files, as they change.

#include <QDialog>

namespace Ui {
class ManagerControlDialog;
}
class QFileSystemWatcher;

class ManagerControlDialog : public QDialog
{
    Q_OBJECT
public:
    explicit ManagerControlDialog(QWidget *parent = nullptr);
    ~ManagerControlDialog() override;

    Ui::ManagerControlDialog *ui;

private slots:
    void onFileChanged(const QString &path);
    void onFolderChanged();

private:
    QFileSystemWatcher *watcher;
};
