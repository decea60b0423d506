#pragma once
// The console's full-screen main window: the title strip, the menu rows, the information strip
// and Exit/Reboot. It runs the start-up (options, screen, font, style sheet), serves a one-second
// timer for requests from hidden keys and from a management server (marker files), and hands
// each menu row's work to the class that owns it.
//
// Where each row's handler lives:
//   pxeclient_drive.cpp     Wipe Drive, Unmount USB Drive (and finding drives and media)
//   pxeclient_server.cpp    Install Image, Production Server IP, the management install request
//   pxeclient_images.cpp    Backup, Binary Backup, Restore Image, Clone Windows, Deploy Windows
//   pxeclient_firmware.cpp  Install From USB
//   pxeclient_boot.cpp      UEFI/Legacy Boot, PXE Boot
//   pxeclient_service.cpp   System Information, Terminal, Advanced Tool, Restore Partition Table
// This file: start-up, the menu's state, the one-second timer, the keys, exit.
//
// Actions nest (a management request served while a dialog of the technician is open): the menu
// comes back when the last running action has ended, and never while a management server has
// the unit (/tmp/mgr_ctl). The timer does only quick work itself; what waits (a question, the
// terminal, an install) it starts after its tick has returned, so that it keeps watching the
// marker files while that runs.

#include <QMainWindow>
#include <QPointer>
#include <QRect>
#include <QStringList>

#include <functional>

namespace Ui {
class PxeClient;
}
class DiskHandler;
class Logging;
class ManagerControlDialog;
class QScreen;
class QTimer;
class ServerHandler;

class PxeClient : public QMainWindow
{
    Q_OBJECT
public:
    explicit PxeClient(QWidget *parent = nullptr);
    ~PxeClient() override;

    void show();
    void SetupMenus(bool production);
    // false: one more action runs (the menu hides); true: one has ended.
    void SetEnableButtons(bool enable);
    void UpdateInfoLabels();
    void SetInitialFontSize(int width);
    void UpdateFontSize(int points);
    void UpdateMonitorInfo();
    void RebootUnit();
    void Cleanup();

    // Main-window wrappers around DiskHandler that ask the technician when something is missing.
    QString GetActiveHardDrive();
    QString GetUsbMountPath(bool quiet);
    QString GetCdMountPath();

    // Firmware from an archive on a USB stick or CD (pxeclient_firmware.cpp): chosen by the
    // technician, or at start-up the one archive on the stick.
    void InstallFromUsb(bool automatic);
    void AutoInstallFirmware();

    // Start options.
    bool debugMode = false;
    bool vncMode = false;
    bool autoInstall = false;
    bool autoInstallReboot = false;
    bool autoRestore = false;
    bool autoRestoreReboot = false;
    bool resizeOnBackup = false;
    QStringList options;

    QRect screenRect;
    QRect clientRect;
    bool resolutionFromFile = false;
    int fontSize = 16;
    QString frameBufferName;

    bool isBusy = false;
    bool productionMode = false;
    bool dontRelease = false;
    bool pxeSettingShown = false;
    bool exitClosesApp = false;
    QString activeDrive;
    QString myIp;
    QString myAdapter;

    bool exitRequested = false;
    bool terminalRequested = false;
    bool fontUpRequested = false;
    bool fontDownRequested = false;

    Ui::PxeClient *ui;
    QTimer *timer = nullptr;
    QPointer<ManagerControlDialog> managerDialog;

    static const QString MGR_CTL_FILE;
    static const QString MGR_INSTALL_FILE;

signals:
    void webInstallRequested();

public slots:
    void onTimerTimeout();
    void on_pbExit_clicked();
    void on_pbWipeDrive_clicked();
    void on_pbUnmountUsb_clicked();
    void on_pbInstallImage_clicked();
    void on_pbCompressedBackup_clicked();
    void on_pbBinaryBackup_clicked();
    void on_pbRestore_clicked();
    void on_pbCloneImage_clicked();
    void on_pbDeployImage_clicked();
    void on_pbSysInfo_clicked();
    void on_pbInstallFromUsb_clicked();
    void on_pbProdServerIP_clicked();
    void on_pbBootType_clicked();
    void on_pbPxeBoot_clicked();
    void on_pbRestorePartTbl_clicked();
    void on_pbVaultine_clicked();
    void on_pbQterm_clicked();
    void installImage_webrequest();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    // The menu is hidden for the lifetime of one of these (one action).
    class MenuBusy
    {
    public:
        explicit MenuBusy(PxeClient *window) : window(window) { window->SetEnableButtons(false); }
        ~MenuBusy() { window->SetEnableButtons(true); }
        MenuBusy(const MenuBusy &) = delete;
        MenuBusy &operator=(const MenuBusy &) = delete;

    private:
        PxeClient *window;
    };

    void applyMenuState();
    // Starts work once no blocking command's wait is on the way (see WaitLoop::UserInputHeld).
    void runSoon(const std::function<void()> &work);
    void readStartOptions();
    void chooseScreenArea();
    void logScreenInformation();
    void readVersionFile();
    void chooseExitButton();
    void startAutomaticWork();
    void openTerminal();
    void alignMenuButtons();
    // Windows Cleanup closes when the console ends.
    void keepAuxiliary(QWidget *window);
    bool serviceModifiers(const class QKeyEvent *key) const;
    void debugKey(int key);
    // Backup and restore rows, and the automatic restore at start-up (pxeclient_images.cpp).
    void HandleBackupRestore(bool restore, bool compressed, bool windows);
    void BackupImageTo(const QString &mountPath, bool compressed, bool windows);
    void RestoreImageFrom(const QString &mountPath, bool windows);
    QString GetNetworkMountInformation();
    void ShowBackupRestorePrompt(const QString &word, int code);
    void AutoRestore();

    QScreen *screen = nullptr;
    Logging *logger = nullptr;
    DiskHandler *diskHandler = nullptr;
    ServerHandler *serverHandler = nullptr;
    bool inTimer = false;
    int runningActions = 0;
    bool exitQuestionOpen = false;
    bool exitPending = false;
    bool terminalPending = false;
    bool terminalOpen = false;
    bool webInstallRunning = false;
    bool webInstallPending = false;
    bool webRequestWaitLogged = false;
    bool uiBuilt = false;
    bool extraInfoShown = false;
    QList<QPointer<QWidget>> auxiliaryWindows;
};
