#pragma once
// The firmware's LAN (PXE) boot setting: shows it, and on OK switches it in the background
// through the LAN boot utility, staying open (and disabled) until the switch has ended: neither
// Escape nor the window's close leaves it while the switch runs.

#include <QDialog>

namespace Ui {
class EnablePxeDialog;
}
class Logging;
class QCloseEvent;
class Utils;

class EnablePxeDialog : public QDialog
{
    Q_OBJECT
public:
    explicit EnablePxeDialog(QWidget *parent = nullptr);
    ~EnablePxeDialog() override;

    Ui::EnablePxeDialog *ui;

public slots:
    void accept() override;
    void reject() override;
    void on_buttonBox_accepted();
    void on_buttonBox_rejected();
    void onSpawnedThreadFinished(int exitCode);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void enableInput(bool enable);

    Utils *utils = nullptr;
    Logging *logger = nullptr;
    bool switching = false;
};
