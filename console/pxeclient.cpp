#include "pxeclient.h"
#include "ui_pxeclient.h"

#include "confirmationdialog.h"
#include "constants.h"
#include "diskhandler.h"
#include "drivejob.h"
#include "logging.h"
#include "managercontroldialog.h"
#include "networkhandler.h"
#include "serverhandler.h"
#include "utils.h"
#include "waitloop.h"

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
static const QString STOP_QT_FILE = QStringLiteral("/tmp/stop-qt");
static const QString DEBUG_QT_FILE = QStringLiteral("/tmp/debug-qt");
static const QString FORCE_CLONE_FILE = QStringLiteral("/tmp/forceClone");
static const int MAX_WIDTH = 1024;
static const int MAX_HEIGHT = 768;
static const int CLIENT_INSET = 25;

const QString PxeClient::MGR_CTL_FILE = QStringLiteral("/tmp/mgr_ctl");
const QString PxeClient::MGR_INSTALL_FILE = QStringLiteral("/tmp/mgr-requested-install");

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
    // The management install is a request like the others: queued, served from the top.
    connect(this, &PxeClient::webInstallRequested, this, [this]() { request(Request::ManagementInstall); });

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
        else if (word == QLatin1String("zstd-images"))
            // The engine inherits our environment, as it does GUI_TYPE: its backups write zstd images.
            qputenv("IMAGE_CODEC", "zstd");
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
    // Requests like any other: they run once the program's event loop runs, with the window up
    // behind them, and every request noticed meanwhile is served after them.
    if (options.contains(QStringLiteral("auto-install")) || options.contains(QStringLiteral("auto-install-reboot"))) {
        Logging(2) << "Start Auto Firmware Install";
        request(Request::AutoInstall);
    } else if (options.contains(QStringLiteral("auto-restore")) || options.contains(QStringLiteral("auto-restore-reboot"))) {
        Logging(2) << "Start Auto Image Restore";
        request(Request::AutoRestore);
    }
    if (!requests.isEmpty())
        QTimer::singleShot(0, this, &PxeClient::serveRequests);
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
    runningActions = enable ? qMax(0, runningActions - 1) : runningActions + 1;
    applyMenuState();
}

bool PxeClient::managerHoldsUnit() const
{
    return managerDialog || QFile::exists(MGR_CTL_FILE);
}

PxeClient::DriveAction::DriveAction(PxeClient *window, const QString &name, bool technician)
    : menu(window), job(name), window(window), name(name), technician(technician)
{
    if (job.Taken() || !technician)
        return;
    // Told without waiting for the answer: a row pressed while the test bench waits for its
    // engine must not hold the bench's run up until the box is closed.
    auto *box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Drive Busy"), DriveJob::BusyText(),
                                QMessageBox::Ok, window);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

bool PxeClient::DriveAction::MayGoOn() const
{
    if (!job.Taken())
        return false;
    if (technician && window->managerHoldsUnit()) {
        Logging(2) << "Refused" << name << ": the unit is under the control of a manager";
        return false;
    }
    return true;
}

void PxeClient::applyMenuState()
{
    // A management server's control wins over everything the technician or the timer ran.
    const bool shown = runningActions == 0 && !managerDialog;
    isBusy = !shown;
    ui->frmMenu->setEnabled(shown);
    ui->frmMenu->setVisible(shown);
    ui->pbExit->setEnabled(shown);
    ui->pbExit->setVisible(shown);
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

void PxeClient::request(Request what)
{
    // Each font press counts; any other request is asked for once until it is served.
    if (what == Request::FontUp || what == Request::FontDown || !requests.contains(what))
        requests << what;
}

void PxeClient::onTimerTimeout()
{
    // The tick only notices requests and shows or closes the manager dialog; it runs no command
    // and never waits, so it never runs inside itself.
    if (exitRequested) {
        exitRequested = false;
        request(Request::Exit);
    } else {
        if (QFile::exists(MGR_CTL_FILE)) {
            if (!managerDialog) {
                managerDialog = new ManagerControlDialog(this);
                managerDialog->setAttribute(Qt::WA_DeleteOnClose);
                managerDialog->show();
                applyMenuState();
            }
        } else {
            // The server may hand over its install request in the same tick that ends its control.
            if (managerDialog) {
                managerDialog->close();
                managerDialog = nullptr;
                applyMenuState();
            }
            if (QFile::exists(MGR_INSTALL_FILE))
                emit webInstallRequested();
        }
        if (fontUpRequested)
            request(Request::FontUp);
        if (fontDownRequested)
            request(Request::FontDown);
        fontUpRequested = fontDownRequested = false;
        if (terminalRequested) {
            terminalRequested = false;
            request(Request::Terminal);
        }
        if (myIp.isEmpty() || ui->lblMyIP->text().isEmpty())
            request(Request::Address);
    }
    // Served after the tick has returned: a timer's slot that is still running gets no further
    // ticks, and the ticks must go on noticing (a management server taking the unit) while a
    // request runs.
    if (!requests.isEmpty())
        QTimer::singleShot(0, this, &PxeClient::serveRequests);
}

void PxeClient::serveRequests()
{
    // Only from the top: inside a wait or a question the requests stay queued, and the next tick
    // that finds the console back at its top serves them.
    if (serving || ending || !WaitLoop::AtTopLevel())
        return;
    serving = true;
    while (!ending) {
        // The first request that can run now; one that needs the drive waits while a job (the
        // test bench's engine in the background) holds it.
        int next = -1;
        for (int i = 0; i < requests.size() && next < 0; ++i) {
            const Request what = requests.at(i);
            const bool needsDrive = what == Request::AutoInstall || what == Request::AutoRestore
                                    || what == Request::ManagementInstall;
            if (!needsDrive || DriveJob::Running().isEmpty())
                next = i;
            else if (what == Request::ManagementInstall && !webRequestWaitLogged) {
                Logging(2) << "Web request to install image waits:" << DriveJob::Running() << "runs";
                webRequestWaitLogged = true;
            }
        }
        if (next < 0)
            break;
        serve(requests.takeAt(next));
    }
    serving = false;
}

void PxeClient::serve(Request what)
{
    switch (what) {
    case Request::AutoInstall:
        AutoInstallFirmware();
        break;
    case Request::AutoRestore:
        AutoRestore();
        break;
    case Request::ManagementInstall:
        webRequestWaitLogged = false;
        installImage_webrequest();
        break;
    case Request::Exit:
        on_pbExit_clicked();
        break;
    case Request::Terminal:
        openTerminal();
        break;
    case Request::SystemInfo:
        showSystemInfo();
        break;
    case Request::FontUp:
        if (fontSize < 24)
            UpdateFontSize(fontSize + 2);
        break;
    case Request::FontDown:
        if (fontSize > 8)
            UpdateFontSize(fontSize - 2);
        break;
    case Request::Address:
        serverHandler->GetServerIp(false);
        UpdateInfoLabels();
        break;
    }
}

// ---- keys ------------------------------------------------------------------------------------

// X11's modifier bits in a key's native mask: the lock keys' bits say only how the locks stand.
static const quint32 X11_SHIFT_CTRL_ALT = 1 | 4 | 8;
static const quint32 X11_LOCKS = 2 | 16;   // CapsLock (Lock), NumLock (Mod2)

// The native mask without the lock bits: Shift+Ctrl+Alt is the same keys with NumLock or
// CapsLock on or off (X starts with NumLock off).
static bool x11ShiftCtrlAlt(quint32 native)
{
    return (native & ~X11_LOCKS) == X11_SHIFT_CTRL_ALT;
}

bool PxeClient::serviceModifiers(const QKeyEvent *key) const
{
    // All forms are read from the native modifier mask: X11's Shift, Control and Mod1 (Alt) bits
    // (29 with NumLock's); a remote viewer sends Qt's modifier flags there instead.
    const quint32 native = key->nativeModifiers();
    const quint32 shiftCtrlMeta = Qt::ShiftModifier | Qt::ControlModifier | Qt::MetaModifier;
    const quint32 shiftCtrlAlt = Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier;
    return x11ShiftCtrlAlt(native) || native == shiftCtrlMeta || (native & ~quint32(Qt::MetaModifier)) == shiftCtrlAlt;
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
        request(Request::Exit);
        QTimer::singleShot(0, this, &PxeClient::serveRequests);
        return true;
    }
    if (key->key() == Qt::Key_Plus || key->key() == Qt::Key_Minus) {
        const quint32 fontMask = Qt::ShiftModifier | Qt::ControlModifier | Qt::MetaModifier | Qt::KeypadModifier;
        if (x11ShiftCtrlAlt(native) || (native & fontMask) == fontMask) {
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
    // Never away from a drive job half done (the test bench's engine in the background).
    if (DriveJob::RefuseIfBusy(this))
        return;
    bool accepted;
    {
        MenuBusy menu(this);
        ConfirmationDialog question(QStringLiteral("Do you want to %1?").arg(ui->pbExit->text().toLower()), this);
        accepted = question.exec() == QDialog::Accepted;
    }
    if (!accepted || DriveJob::RefuseIfBusy(this))
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
    // The window goes first, as the unit's screen should show; but the program must not end
    // with it, or "reboot" would be cut off half way. It ends once reboot has answered, also when
    // reboot failed: the technician is told, and the unit's session gets the console's end.
    Cleanup();
    QApplication::setQuitOnLastWindowClosed(false);
    close();
    int code = 0;
    const QStringList output = Utils::ExecuteShellDebug(QStringLiteral("reboot"), QStringList(), 60000, &code);
    if (code != 0) {
        Logging(2) << "reboot failed with" << code << output.join(' ');
        QMessageBox::critical(nullptr, QStringLiteral("Reboot Failed"),
                              QStringLiteral("The unit could not be rebooted (reboot exit code %1).\n%2\n"
                                             "The console ends now.")
                                  .arg(code).arg(output.join('\n')));
    }
    QApplication::setQuitOnLastWindowClosed(true);
    emit ended(code == 0 ? 0 : 1);
}

void PxeClient::keepAuxiliary(QWidget *window)
{
    // Windows already gone leave empty entries behind; the list holds the open ones only.
    auxiliaryWindows.removeAll(QPointer<QWidget>());
    auxiliaryWindows << window;
}

void PxeClient::Cleanup()
{
    // Nothing queued runs after the end.
    ending = true;
    requests.clear();
    timer->stop();
    if (managerDialog)
        managerDialog->close();
    for (const QPointer<QWidget> &window : qAsConst(auxiliaryWindows))
        if (window)
            window->close();
    auxiliaryWindows.clear();
}


