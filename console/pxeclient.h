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
// Requests and jobs. Everything that is asked of the console from outside a row's own flow (a
// management install, the terminal, exit, the font size, the automatic jobs at start-up) is a
// request: the one-second timer and the keys only put it into one queue, and the queue is served
// only from the top-level event loop (no wait running, no modal dialog open), one request after
// another, so no request ever runs nested inside another action. A drive-changing action holds
// the drive (DriveJob) from its first question to its result box; a request that needs the
// drive stays queued while another job holds it. While a management server has the unit
// (/tmp/mgr_ctl) the menu stays hidden and a technician's job is refused.

#include <QMainWindow>
#include <QPointer>
#include <QRect>
#include <QStringList>

#include "drivejob.h"

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

    // Requests the keys and the timer notice; they are served through the queue.
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
    // The console has ended (a reboot was run, or failed and was reported): the program's
    // event loop ends with code.
    void ended(int code);

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
    // Serves the queued requests, when the console is at its top-level event loop.
    void serveRequests();

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

    // One drive-changing action: the menu hidden and the drive held for the object's lifetime.
    // A technician's action is refused while another job holds the drive ("Drive Busy" box) or a
    // management server has the unit; automatic and management jobs are refused in the log only.
    class DriveAction
    {
    public:
        DriveAction(PxeClient *window, const QString &name, bool technician = true);
        // Whether the action may go on (asked at its start and again before the drive is
        // written: a management server may have taken the unit while a question was open).
        bool MayGoOn() const;

    private:
        MenuBusy menu;
        DriveJob job;
        PxeClient *window;
        QString name;
        bool technician;
    };

    // Address: the unit's address is not known yet; the information strip asks again.
    enum class Request { AutoInstall, AutoRestore, ManagementInstall, Exit, Terminal, SystemInfo, FontUp, FontDown, Address };
    void request(Request what);
    void serve(Request what);
    bool managerHoldsUnit() const;

    void applyMenuState();
    void readStartOptions();
    void chooseScreenArea();
    void logScreenInformation();
    void readVersionFile();
    void chooseExitButton();
    void startAutomaticWork();
    void openTerminal();
    void showSystemInfo();
    bool queuedUntilTopLevel(Request what, const char *name);
    void alignMenuButtons();
    // Windows Cleanup closes when the console ends.
    void keepAuxiliary(QWidget *window);
    bool serviceModifiers(const class QKeyEvent *key) const;
    void debugKey(int key);
    // Backup and restore rows, and the automatic restore at start-up (pxeclient_images.cpp).
    void HandleBackupRestore(bool restore, bool compressed, bool windows);
    void BackupImageTo(const QString &mountPath, bool compressed, bool windows, const DriveAction &action);
    void RestoreImageFrom(const QString &mountPath, bool windows, const DriveAction &action);
    QString GetNetworkMountInformation();
    void ShowBackupRestorePrompt(const QString &word, int code);
    void AutoRestore();

    QScreen *screen = nullptr;
    Logging *logger = nullptr;
    DiskHandler *diskHandler = nullptr;
    ServerHandler *serverHandler = nullptr;
    int runningActions = 0;
    QList<Request> requests;
    bool serving = false;
    bool ending = false;
    bool webRequestWaitLogged = false;
    bool uiBuilt = false;
    bool extraInfoShown = false;
    QList<QPointer<QWidget>> auxiliaryWindows;
};
