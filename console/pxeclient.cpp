#include "pxeclient.h"
#include "ui_pxeclient.h"

#include "boottypedialog.h"
#include "confirmationdialog.h"
#include "constants.h"
#include "diskhandler.h"
#include "logindialog.h"
#include "enablepxedialog.h"
#include "logging.h"
#include "managercontroldialog.h"
#include "modelsdialog.h"
#include "networkhandler.h"
#include "serverhandler.h"
#include "serveripdialog.h"
#include "systeminfo.h"
#include "terminalwidget.h"
#include "testvtl.h"
#include "utils.h"
#include "versionsdialog.h"

#include <QApplication>
#include <QDebug>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QX11Info>

#include <cstdio>

static const QString VERSION_FILE = QStringLiteral("/etc/version");
static const QString RESOLUTION_FILE = QStringLiteral("/tmp/resolution");
static const QString MGR_CTL_FILE = QStringLiteral("/tmp/mgr_ctl");
static const QString MGR_INSTALL_FILE = QStringLiteral("/tmp/mgr-requested-install");
static const QString STOP_QT_FILE = QStringLiteral("/tmp/stop-qt");
static const QString DEBUG_QT_FILE = QStringLiteral("/tmp/debug-qt");
static const QString FORCE_CLONE_FILE = QStringLiteral("/tmp/forceClone");
static const int MAX_WIDTH = 1024;
static const int MAX_HEIGHT = 768;
static const int CLIENT_INSET = 25;

PxeClient::PxeClient(QWidget *parent) : QMainWindow(parent), ui(new Ui::PxeClient)
{
    // 1. Options from our own arguments.
    const QStringList args = QCoreApplication::arguments();
    debugMode = args.contains(QStringLiteral("debug")) || args.contains(QStringLiteral("--d"));
    vncMode = args.value(0).contains(QLatin1String("vnc"));

    // 2. The screen and the frame buffer's name (for the log).
    screen = QGuiApplication::screens().value(0, QGuiApplication::primaryScreen());
    frameBufferName = QString::fromLatin1(Utils::ReadFileHead(QStringLiteral("/sys/class/graphics/fb0/name"), 256)).trimmed();

    // 3. A fresh progress log; the engine writes its gauge for us.
    Utils::RemoveDebugLog();
    if (!qputenv("GUI_TYPE", "Q"))
        qDebug() << "could Not Set variable";
    fontSize = 16;
    logger = Logging::GetInstance(7, false);

    // 4.-6. Kernel options, release marker, screen area.
    readStartOptions();
    dontRelease = QFile::exists(QStringLiteral("/usr/bin/mount-remote")) || QFile::exists(QStringLiteral("/usr/bin/mount-smb.sh"));
    chooseScreenArea();

    // 7. LAN boot state, debug level.
    pxeSettingShown = Utils::CheckPxeStatus();
    if (debugMode) {
        logger->SetLoggingLevel(6);
        Logging(2) << "Debug Mode enabled";
    }

    // 8.-10. Log the screen, size the font, build the window.
    logScreenInformation();
    SetInitialFontSize(screenRect.width());
    ui->setupUi(this);
    uiBuilt = true;
    ui->bottomSpacer->changeSize(20, vncMode ? 40 : 10, QSizePolicy::Minimum, QSizePolicy::Fixed);
    setMinimumSize(screenRect.size());
    setBaseSize(screenRect.size());
    setGeometry(screenRect);
    Logging::SetTextEdit(ui->teInfo);
    ui->teInfo->setVisible(debugMode);

    // The rest of the start: drives, version, menus, server, exit button, timer, automatic work.
    diskHandler = DiskHandler::GetInstance();
    serverHandler = ServerHandler::GetInstance();
    exitClosesApp = false;
    activeDrive = diskHandler->GetActiveHardDrive();
    Logging(2) << "Usb mounted" << int(diskHandler->isUsbMounted());
    if (debugMode)
        Logging(2) << "debugMode" << 1;

    timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &PxeClient::onTimerTimeout);
    installEventFilter(this);

    readVersionFile();
    Utils::dontRelease = dontRelease;
    Utils::debugMode = debugMode;
    Utils::productionMode = productionMode;
    SetupMenus(productionMode);
    UpdateMonitorInfo();

    if (resizeOnBackup) {
        DiskHandler::_forceClone = true;
        if (!QFile::exists(FORCE_CLONE_FILE))
            Utils::WriteFile(FORCE_CLONE_FILE, "1\n");
    }

    serverHandler->GetServerIp(false);
    chooseExitButton();

    Logging(2) << "Start Timer";
    timer->start(1000);

    startAutomaticWork();
    connect(this, &PxeClient::webInstallRequested, this, &PxeClient::installImage_webrequest);
}

PxeClient::~PxeClient()
{
    Logging::SetTextEdit(nullptr);
    delete ui;
}

// ---- start-up --------------------------------------------------------------------------------

void PxeClient::readStartOptions()
{
    options = Utils::GetCmdLineOptions();
    for (const QString &word : qAsConst(options)) {
        if (word == QLatin1String("qtdebug"))
            debugMode = true;
        else if (word == QLatin1String("auto-install"))
            autoInstall = true;
        else if (word == QLatin1String("auto-install-reboot"))
            autoInstallReboot = true;
        else if (word == QLatin1String("auto-restore"))
            autoRestore = true;
        else if (word == QLatin1String("auto-restore-reboot"))
            autoRestoreReboot = true;
        else if (word == QLatin1String("resize-on-backup"))
            resizeOnBackup = true;
        else if (word == QLatin1String("no-sums"))
            Utils::WriteFile(QStringLiteral("/tmp/.nosums"), "1");
    }
}

void PxeClient::chooseScreenArea()
{
    int width = 0, height = 0;
    const QByteArray resolution = Utils::ReadFileHead(RESOLUTION_FILE, 64);
    if (std::sscanf(resolution.constData(), "%d x %d", &width, &height) == 2 && width > 0 && height > 0) {
        screenRect = QRect(0, 0, width, height);
        resolutionFromFile = true;
    } else {
        screenRect = screen ? screen->geometry() : QRect(0, 0, MAX_WIDTH, MAX_HEIGHT);
    }
    screenRect.setWidth(qMin(screenRect.width(), MAX_WIDTH));
    screenRect.setHeight(qMin(screenRect.height(), MAX_HEIGHT));
    clientRect = QRect(QPoint(CLIENT_INSET, CLIENT_INSET),
                       QPoint(screenRect.width() - 1 - CLIENT_INSET, screenRect.height() - 1 - CLIENT_INSET));
}

static QString bool2text(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

void PxeClient::logScreenInformation()
{
    Logging(2) << "Frame Buffer Name " << frameBufferName;
    Logging(2) << QStringLiteral("devicePixelRatio  QWin=%1 ").arg(devicePixelRatioF());
    if (screen) {
        Logging(2) << "Screen Information:";
        Logging(2) << "  Dots Per Inch   :" << QString::number(screen->physicalDotsPerInch());
        Logging(2) << "  Dots Per Inch X :" << QString::number(screen->physicalDotsPerInchX());
        Logging(2) << "  Dots Per Inch Y :" << QString::number(screen->physicalDotsPerInchY());
        Logging(2) << "  Physical Size   :" << QStringLiteral("%1x%2").arg(screen->physicalSize().width()).arg(screen->physicalSize().height());
        Logging(2) << "  Virtual  Size   :" << QStringLiteral("%1x%2").arg(screen->virtualSize().width()).arg(screen->virtualSize().height());
        Logging(2) << "  Virtual Geometry:" << QStringLiteral("%1x%2").arg(screen->virtualGeometry().width()).arg(screen->virtualGeometry().height());
    }
    Logging(2) << "screen size=" << QStringLiteral("%1x%2").arg(screenRect.width()).arg(screenRect.height());
    Logging(2) << "Input Options" << options.join(QStringLiteral(", "));
    Logging(2) << QStringLiteral("autoInstall = %1").arg(bool2text(autoInstall));
    Logging(2) << QStringLiteral("autoInstallReboot = %1").arg(bool2text(autoInstallReboot));
    Logging(2) << QStringLiteral("autoRestore = %1").arg(bool2text(autoRestore));
    Logging(2) << QStringLiteral("autoRestoreReboot = %1").arg(bool2text(autoRestoreReboot));
    Logging(2) << QStringLiteral("resizeOnBackup = %1").arg(bool2text(resizeOnBackup));
}

void PxeClient::SetInitialFontSize(int width)
{
    const qreal physicalHeight = screen ? screen->physicalSize().height() : 0;
    Logging(2) << QStringLiteral("Physical Height=%1  Width=%2").arg(physicalHeight).arg(width);
    int size;
    if (vncMode || width <= 1023)
        size = width <= 800 ? 10 : 12;
    else if (physicalHeight > 240)
        size = 20;
    else if (physicalHeight > 180)
        size = 14;
    else
        size = 12;
    Logging(2) << "Setting font size to " << size;
    UpdateFontSize(size);
}

void PxeClient::UpdateFontSize(int points)
{
    fontSize = points;
    Utils::UpdateDefaultFontSize(points, QString());
    Utils::SetDefaultStyleSheet(this, QString());
    alignMenuButtons();
    Logging(2) << QStringLiteral("Current font size is %1, %2 pixels, new size was %3")
                      .arg(font().pointSize()).arg(font().pixelSize()).arg(points);
}

void PxeClient::alignMenuButtons()
{
    // One column of buttons as wide as the widest text in the current font. The first font
    // size is chosen before the widgets exist.
    if (!uiBuilt)
        return;
    const QList<QPushButton *> buttons = ui->frmMenu->findChildren<QPushButton *>();
    int widest = 0;
    for (QPushButton *button : buttons) {
        button->setMinimumWidth(0);
        button->ensurePolished();
        widest = qMax(widest, button->sizeHint().width());
    }
    for (QPushButton *button : buttons)
        button->setMinimumWidth(widest);
}

void PxeClient::show()
{
    QMainWindow::show();
    UpdateFontSize(fontSize);
    UpdateInfoLabels();
}

void PxeClient::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    if (!resolutionFromFile)
        return;
    qDebug() << QStringLiteral("New WIndow Size %1x%2").arg(width()).arg(height());
    SetInitialFontSize(width());
}

void PxeClient::UpdateMonitorInfo()
{
    int dpiX = 0, dpiY = 0;
    if (QX11Info::isPlatformX11()) {
        dpiX = QX11Info::appDpiX();
        dpiY = QX11Info::appDpiY();
    } else if (screen) {
        dpiX = qRound(screen->logicalDotsPerInchX());
        dpiY = qRound(screen->logicalDotsPerInchY());
    }
    const QRect desktop = screen ? screen->geometry() : QRect();
    const QFont defaultFont = QApplication::font();
    ui->lblMonitorInfo->setText(QStringLiteral("Monitor info: RES-DPI=%1,%2  Geometry=%3x%4, font size=%5,%6  window=%7x%8")
                                    .arg(dpiX).arg(dpiY).arg(desktop.width()).arg(desktop.height())
                                    .arg(defaultFont.pointSize()).arg(defaultFont.pointSizeF())
                                    .arg(width()).arg(height()));
}

void PxeClient::readVersionFile()
{
    const QString line = QString::fromLatin1(Utils::ReadFileHead(VERSION_FILE, 4096)).split('\n').value(0).trimmed();
    const QStringList words = line.split(' ', Qt::SkipEmptyParts);
    const QString version = words.isEmpty() ? QString() : words.last();
    if (version.startsWith('v')) {
        ui->lblVersion->setText(version);
        ui->lblTitle->setText(line.left(line.lastIndexOf(version)).trimmed());
    }
    productionMode = line.toLower().contains(QLatin1String("production"));
}

void PxeClient::chooseExitButton()
{
    // A unit booted into the service kernel reboots when done, unless the engine runs under its
    // script, which the technician must be able to return to.
    const QStringList script = Utils::ExecuteShell(QStringLiteral("ps -C backup_gui.sh -o cmd="), 60000);
    const QString kernel = Utils::ExecuteShell(QStringLiteral("uname -r"), 60000).join(QString());
    if (script.join(QString()).trimmed().isEmpty() && kernel.contains(QLatin1String("vemra"))) {
        ui->pbExit->setText(QStringLiteral("Reboot"));
        exitClosesApp = false;
    } else {
        ui->pbExit->setText(QStringLiteral("Exit"));
        exitClosesApp = true;
    }
}

void PxeClient::startAutomaticWork()
{
    if (options.contains(QStringLiteral("auto-install")) || options.contains(QStringLiteral("auto-install-reboot"))) {
        Logging(2) << "Start Auto Firmware Install";
        AutoInstallFirmware();
    } else if (options.contains(QStringLiteral("auto-restore")) || options.contains(QStringLiteral("auto-restore-reboot"))) {
        Logging(2) << "Start Auto Image Restore";
        // Once the window is up, so that the technician sees the console behind the restore.
        QTimer::singleShot(0, this, &PxeClient::AutoRestore);
    }
}

// ---- menu ------------------------------------------------------------------------------------

void PxeClient::SetupMenus(bool production)
{
    for (QWidget *row : {static_cast<QWidget *>(ui->frmInstImg), static_cast<QWidget *>(ui->frmServerIp),
                         static_cast<QWidget *>(ui->frmBinBkup), static_cast<QWidget *>(ui->lblInfo1),
                         static_cast<QWidget *>(ui->lblInfo2), static_cast<QWidget *>(ui->frmTestProgram)})
        row->setVisible(production);
    for (QWidget *row : {static_cast<QWidget *>(ui->frmInstPkg), static_cast<QWidget *>(ui->frmChgPart),
                         static_cast<QWidget *>(ui->frmRestPartTbl), static_cast<QWidget *>(ui->lblMonitorInfo)})
        row->setVisible(false);
    ui->frmQTerm->setVisible(true);
    ui->label_norelease->setVisible(dontRelease);
    ui->frmPxeSetting->setVisible(pxeSettingShown);
    UpdateInfoLabels();
}

void PxeClient::SetEnableButtons(bool enable)
{
    isBusy = !enable;
    ui->frmMenu->setEnabled(enable);
    ui->frmMenu->setVisible(enable);
    ui->pbExit->setEnabled(enable);
    ui->pbExit->setVisible(enable);
}

void PxeClient::UpdateInfoLabels()
{
    NetworkHandler *network = NetworkHandler::GetInstance();
    network->GetNetworkInformation();
    myIp = network->ipAddress;
    myAdapter = network->interfaceName;
    ui->lblMyIP->setText(myIp);
    ui->lblSizeVer->setText(QStringLiteral("GUI Version: %1").arg(GUI_VERSION));
    if (!productionMode)
        return;
    const QString server = QStringLiteral("PXE IP: ") + (serverHandler ? serverHandler->serverIp : QString());
    const QString drive = QStringLiteral("Active Drive: ") +
                          (activeDrive.isEmpty() ? QStringLiteral("unknown") : QStringLiteral("/dev/") + activeDrive);
    if (ui->lblInfo1->text() != server)
        ui->lblInfo1->setText(server);
    if (ui->lblInfo2->text() != drive)
        ui->lblInfo2->setText(drive);
}

// ---- timer -----------------------------------------------------------------------------------

void PxeClient::onTimerTimeout()
{
    // Commands run from here keep the timer served: never start a second tick inside the first.
    if (inTimer)
        return;
    inTimer = true;
    if (exitRequested) {
        exitRequested = false;
        on_pbExit_clicked();
        inTimer = false;
        return;
    }
    if (QFile::exists(MGR_CTL_FILE)) {
        if (!managerDialog) {
            SetEnableButtons(false);
            managerDialog = new ManagerControlDialog(this);
            managerDialog->setAttribute(Qt::WA_DeleteOnClose);
            managerDialog->show();
        }
    } else if (QFile::exists(MGR_INSTALL_FILE)) {
        emit webInstallRequested();
    } else if (managerDialog) {
        managerDialog->close();
        SetEnableButtons(true);
        managerDialog = nullptr;
    }
    if (fontUpRequested) {
        fontUpRequested = false;
        if (fontSize < 24)
            UpdateFontSize(fontSize + 2);
    }
    if (fontDownRequested) {
        fontDownRequested = false;
        if (fontSize > 8)
            UpdateFontSize(fontSize - 2);
    }
    if (terminalRequested) {
        terminalRequested = false;
        openTerminal();
    }
    if (myIp.isEmpty() || ui->lblMyIP->text().isEmpty()) {
        serverHandler->GetServerIp(false);
        UpdateInfoLabels();
    }
    inTimer = false;
}

// ---- keys ------------------------------------------------------------------------------------

bool PxeClient::serviceModifiers(const QKeyEvent *key) const
{
    const quint32 native = key->nativeModifiers();
    const quint32 shiftCtrlMeta = Qt::ShiftModifier | Qt::ControlModifier | Qt::MetaModifier;
    const Qt::KeyboardModifiers shiftCtrlAlt = Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier;
    // 29: X11's Shift, Control, Mod1 (Alt) and Mod2 (NumLock) bits.
    return native == 29 || native == shiftCtrlMeta || (key->modifiers() & ~Qt::MetaModifier) == shiftCtrlAlt;
}

bool PxeClient::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return QMainWindow::eventFilter(watched, event);
    const auto *key = static_cast<QKeyEvent *>(event);
    const quint32 scanCode = key->nativeScanCode();
    const quint32 native = key->nativeModifiers();
    if (debugMode)
        Logging(2) << QStringLiteral("Key press 0x%1, 0x%2, 0x%3, 0x%4, 0x%5")
                          .arg(key->key(), 0, 16).arg(scanCode, 0, 16).arg(native, 0, 16)
                          .arg(int(key->modifiers()), 0, 16).arg(key->nativeVirtualKey(), 0, 16);
    const bool service = serviceModifiers(key);

    if (key->key() == Qt::Key_Delete && scanCode == 119 && key->modifiers() == (Qt::ControlModifier | Qt::AltModifier)) {
        Logging(2) << "Ctrl+ALT+Delete";
        exitRequested = true;
        return true;
    }
    if (service && key->key() == Qt::Key_ParenRight) {
        Logging(2) << "Shift+Ctrl+ALT 0";
        terminalRequested = true;
        return true;
    }
    // F1 to F5 of a remote-view keyboard arrive without a key code.
    if (key->key() == 0 && native == quint32(Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)
        && scanCode >= 67 && scanCode <= 71) {
        terminalRequested = true;
        return true;
    }
    if (service && key->key() == Qt::Key_R) {
        ui->pbExit->setText(QStringLiteral("Exit"));
        exitClosesApp = true;
        on_pbExit_clicked();
        return true;
    }
    if (key->key() == Qt::Key_Plus || key->key() == Qt::Key_Minus) {
        const quint32 fontMask = Qt::ShiftModifier | Qt::ControlModifier | Qt::MetaModifier | Qt::KeypadModifier;
        if (native == 29 || (native & fontMask) == fontMask) {
            (key->key() == Qt::Key_Plus ? fontUpRequested : fontDownRequested) = true;
            return true;
        }
    }
    if (service) {
        if (debugMode)
            debugKey(key->key());
        return true;
    }
    if (!debugMode && QFile::exists(DEBUG_QT_FILE)) {
        Logging(2) << "Turning on Debug Mode";
        debugMode = true;
        Utils::debugMode = true;
        logger->SetLoggingLevel(6);
    }
    return QMainWindow::eventFilter(watched, event);
}

void PxeClient::debugKey(int key)
{
    switch (key) {
    case Qt::Key_M:
        UpdateMonitorInfo();
        ui->lblMonitorInfo->setVisible(!ui->lblMonitorInfo->isVisible());
        break;
    case Qt::Key_L:
        extraInfoShown = !extraInfoShown;
        ui->teInfo->setVisible(extraInfoShown);
        break;
    case Qt::Key_Q:
        ui->pbExit->setText(ui->pbExit->text().toLower() == QLatin1String("reboot") ? QStringLiteral("Exit")
                                                                                     : QStringLiteral("Reboot"));
        exitClosesApp = ui->pbExit->text() == QLatin1String("Exit");
        break;
    case Qt::Key_F:
        Utils::SetDefaultStyleSheet(this, QString());
        break;
    default:
        break;
    }
}

// ---- exit ------------------------------------------------------------------------------------

void PxeClient::on_pbExit_clicked()
{
    SetEnableButtons(false);
    ConfirmationDialog question(QStringLiteral("Do you want to %1?").arg(ui->pbExit->text().toLower()), this);
    const bool accepted = question.exec() == QDialog::Accepted;
    SetEnableButtons(true);
    if (!accepted)
        return;
    if (QFile::exists(STOP_QT_FILE) || exitClosesApp) {
        Cleanup();
        close();
    } else if (ui->pbExit->text().toLower() == QLatin1String("reboot")) {
        RebootUnit();
    }
}

void PxeClient::RebootUnit()
{
    Cleanup();
    close();
    Utils::ExecuteShell(QStringLiteral("reboot"), 60000);
}

void PxeClient::keepAuxiliary(QWidget *window)
{
    // Windows already gone leave empty entries behind; the list holds the open ones only.
    auxiliaryWindows.removeAll(QPointer<QWidget>());
    auxiliaryWindows << window;
}

void PxeClient::Cleanup()
{
    timer->stop();
    if (managerDialog)
        managerDialog->close();
    for (const QPointer<QWidget> &window : qAsConst(auxiliaryWindows))
        if (window)
            window->close();
    auxiliaryWindows.clear();
}

// ---- drives and media ------------------------------------------------------------------------

QString PxeClient::GetActiveHardDrive()
{
    activeDrive = diskHandler->GetActiveHardDrive();
    while (activeDrive.isEmpty()) {
        ConfirmationDialog question(QStringLiteral("No Hard Drive Detected:\n  Would you like to scan for the hard drive again?"), this);
        const int answer = question.exec();
        Logging(2) << "Dialog result" << answer;
        if (answer != QDialog::Accepted)
            break;
        Utils::ExecuteShell(QStringLiteral("ahd.sh"), 60000);
        activeDrive = diskHandler->GetActiveHardDrive();
    }
    return activeDrive;
}

QString PxeClient::GetUsbMountPath(bool quiet)
{
    bool mounted = diskHandler->isUsbMounted();
    Logging(2) << "PxeClient::GetUsbMountPath -- Usb Mounted" << int(mounted);
    if (!mounted) {
        Logging(2) << "PxeClient::GetUsbMountPath -- mount USB";
        mounted = diskHandler->MountUsb();
    }
    if (mounted) {
        Logging(2) << "PxeClient::GetUsbMountPath -- USB Mounted";
        return DiskHandler::USB_MOUNT;
    }
    if (!quiet)
        QMessageBox::warning(this, QStringLiteral("Could Not Mount USB Drive"), QStringLiteral("Failed to mount the USB Drive"));
    return QString();
}

QString PxeClient::GetCdMountPath()
{
    if (!diskHandler->isCdMounted())
        diskHandler->MountCd();
    if (diskHandler->isCdMounted())
        return DiskHandler::CD_MOUNT;
    QMessageBox::warning(this, QStringLiteral("Could Not Mount CD Rom"), QStringLiteral("Failed to mount the CD Drive"));
    return QString();
}

void PxeClient::on_pbWipeDrive_clicked()
{
    if (GetActiveHardDrive().isEmpty())
        return;
    SetEnableButtons(false);
    ConfirmationDialog question(QStringLiteral("Are you certain you want wipe all data from %1?").arg(activeDrive), this);
    const int answer = question.exec();
    Logging(2) << "Dialog result" << answer;
    if (answer == QDialog::Accepted) {
        Utils::ExecuteShell(QStringLiteral("umountdrives.sh"), 60000);
        if (!diskHandler->WipeHardDrive(activeDrive))
            QMessageBox::warning(this, QStringLiteral("Wipe Drive"),
                                 QStringLiteral("The drive was not wiped: %1").arg(diskHandler->lastError));
    }
    SetEnableButtons(true);
}

void PxeClient::on_pbUnmountUsb_clicked()
{
    diskHandler->UnmountUsb();
    SetEnableButtons(true);
}

// ---- rows handled by the workflows, the terminal and the test bench --------------------------

void PxeClient::on_pbInstallImage_clicked()
{
    // 1. The server must answer.
    SetEnableButtons(false);
    if (!serverHandler->VerifyServerIp(QString())) {
        QMessageBox::critical(this, QStringLiteral("Failure"), QStringLiteral("Could not contact the PXE server"));
        SetEnableButtons(true);
        return;
    }
    // 2. and 3. Model, then version; Back returns to the models, Cancel ends it all.
    QString model, version;
    while (version.isEmpty()) {
        QStringList models = serverHandler->GetModels();
        models.sort(Qt::CaseSensitive);
        ModelsDialog modelsDialog(models);
        if (modelsDialog.exec() != QDialog::Accepted) {
            SetEnableButtons(true);
            return;
        }
        model = modelsDialog.selection;
        if (model.isEmpty())
            continue;
        while (version.isEmpty()) {
            VersionsDialog versionsDialog(serverHandler->GetVersions(model));
            const bool accepted = versionsDialog.exec() == QDialog::Accepted;
            if (!accepted && versionsDialog.selection == QLatin1String("back"))
                break;
            if (!accepted) {
                SetEnableButtons(true);
                return;
            }
            version = versionsDialog.selection;
        }
        if (version.isEmpty())
            model.clear();
    }
    Logging(2) << "Version selected" << version;
    // 4. Install and tell the result.
    const int result = diskHandler->InstallImage(model, version);
    Logging(2) << "Install image " << model << " " << version << " Result " << result;
    if (result == 0)
        QMessageBox::information(this, QStringLiteral("Success"), QStringLiteral("Firmware Installation Successful."));
    else
        QMessageBox::critical(this, QStringLiteral("Failure"),
                              QStringLiteral("Firmware Installation failed  with result code %1").arg(result));
    SetEnableButtons(true);
}
void PxeClient::on_pbCompressedBackup_clicked()
{
    HandleBackupRestore(false, true, false);
    SetEnableButtons(true);
}

void PxeClient::on_pbBinaryBackup_clicked()
{
    SetEnableButtons(false);
    const QMessageBox::StandardButton answer = QMessageBox::warning(
        this, ui->pbBinaryBackup->text(),
        QStringLiteral("Binary Backup has been deprecated and should NOT be used.\nPress YES to continue to create a binary backup"),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer == QMessageBox::Yes)
        HandleBackupRestore(false, false, false);
    SetEnableButtons(true);
}

void PxeClient::on_pbRestore_clicked()
{
    HandleBackupRestore(true, false, false);
    SetEnableButtons(true);
}

void PxeClient::on_pbCloneImage_clicked()
{
    HandleBackupRestore(false, true, true);
    SetEnableButtons(true);
}

void PxeClient::on_pbDeployImage_clicked()
{
    HandleBackupRestore(true, false, true);
    SetEnableButtons(true);
}

void PxeClient::on_pbSysInfo_clicked()
{
    SetEnableButtons(false);
    SystemInfo info;
    info.setMaximumHeight(screenRect.height());
    info.setMaximumWidth(screenRect.width());
    keepAuxiliary(&info);
    info.exec();
    SetEnableButtons(true);
}
void PxeClient::on_pbInstallFromUsb_clicked()
{
    InstallFromUsb(false);
}
void PxeClient::on_pbProdServerIP_clicked()
{
    SetEnableButtons(false);
    ServerIpDialog dialog(serverHandler->GetServerIp(false).trimmed());
    dialog.exec();
    const QString chosen = dialog.selectedIp.trimmed();
    if (!chosen.isEmpty())
        serverHandler->SetServerIp(chosen);
    SetEnableButtons(true);
    UpdateInfoLabels();
}
void PxeClient::on_pbBootType_clicked()
{
    SetEnableButtons(false);
    BootTypeDialog dialog;
    dialog.exec();
    SetEnableButtons(true);
}
void PxeClient::on_pbPxeBoot_clicked()
{
    SetEnableButtons(false);
    EnablePxeDialog dialog;
    dialog.exec();
    logger->LogMessage(QStringLiteral("Pxe Dialog Returned"));
    SetEnableButtons(true);
}
void PxeClient::on_pbVaultine_clicked()
{
    // Close only hides a bench; a new opening builds a new one, so the idle hidden ones go.
    for (const QPointer<QWidget> &window : qAsConst(auxiliaryWindows)) {
        auto *old = qobject_cast<TestVtl *>(window.data());
        if (old && !old->isVisible() && !old->busy)
            old->deleteLater();
    }
    auto *bench = new TestVtl();
    bench->setGeometry(clientRect);
    bench->show();
    keepAuxiliary(bench);
}
void PxeClient::on_pbQterm_clicked() { openTerminal(); }

void PxeClient::openTerminal()
{
    SetEnableButtons(false);
    Logging(2) << "runQterminal";
    LoginDialog login(nullptr);
    keepAuxiliary(&login);
    if (login.exec() == QDialog::Accepted && LoginDialog::IsServicePassword(login.password)) {
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        QPointer<TerminalWidget> terminal = new TerminalWidget(nullptr);
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        terminal->setGeometry(clientRect);
        keepAuxiliary(terminal.data());
        terminal->exec();
        // A shell still running goes with its terminal.
        if (terminal)
            terminal->deleteLater();
    }
    SetEnableButtons(true);
}

void PxeClient::on_pbRestorePartTbl_clicked()
{
    // A hidden row that only exercises the progress dialog: a title, a message and the bar.
    SetEnableButtons(false);
    Utils::GetInstance()->ExecuteProgressShell(
        QStringLiteral("sh"),
        {QStringLiteral("-c"), QStringLiteral("echo 'TTT Progress test'; for i in 0 25 50 75 100; do echo \"XXX Step $i\"; "
                                              "echo $i; sleep 0.3; done")},
        nullptr, true);
    SetEnableButtons(true);
}

void PxeClient::installImage_webrequest()
{
    // One install at a time: a request that arrives while the technician works waits its turn
    // (the timer asks again every second while the file is there).
    if (isBusy)
        return;
    Logging(2) << "Web request to install image has been received";
    const QString server = serverHandler->GetServerIp(false);
    Logging(2) << "Server = " << server;
    if (!ui->lblInfo1->text().contains(server))
        UpdateInfoLabels();
    QFile request(MGR_INSTALL_FILE);
    if (!request.open(QIODevice::ReadOnly))
        return;
    const QStringList words = QString::fromLatin1(request.read(4096)).trimmed().split(' ');
    request.close();
    request.remove();
    if (words.size() < 2)
        return;
    Logging(2) << "Installing " << words.at(0) << " " << words.at(1);
    const int result = diskHandler->InstallImage(words.at(0), words.at(1));
    Logging(2) << "Install of " << words.at(0) << " " << words.at(1) << " returned" << result;
}
