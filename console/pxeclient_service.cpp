// The main window's service rows: "System Information" (on_pbSysInfo_clicked), "Terminal"
// (on_pbQterm_clicked, also opened by the service keys), "Advanced Tool" (on_pbVaultine_clicked,
// the engine test bench) and the hidden "Restore Partition Table" (on_pbRestorePartTbl_clicked).

#include "pxeclient.h"

#include "logging.h"
#include "logindialog.h"
#include "systeminfo.h"
#include "terminalwidget.h"
#include "testvtl.h"
#include "utils.h"
#include "waitloop.h"

#include <QPointer>

// Pressed while a wait runs (the test bench's window keeps the menu usable during its runs),
// System Information and Terminal are queued and open once that wait has ended: a modal
// window opened inside another wait would hold it until the technician closes it. True when
// the window was queued.
bool PxeClient::queuedUntilTopLevel(Request what, const char *name)
{
    if (WaitLoop::AtTopLevel())
        return false;
    Logging(2) << name << "waits for the running wait to end";
    request(what);
    return true;
}

void PxeClient::on_pbSysInfo_clicked()
{
    if (!queuedUntilTopLevel(Request::SystemInfo, "System Information"))
        showSystemInfo();
}

void PxeClient::showSystemInfo()
{
    MenuBusy menu(this);
    SystemInfo info;
    info.setMaximumHeight(screenRect.height());
    info.setMaximumWidth(screenRect.width());
    keepAuxiliary(&info);
    info.exec();
}

void PxeClient::on_pbQterm_clicked()
{
    if (!queuedUntilTopLevel(Request::Terminal, "Terminal"))
        openTerminal();
}

void PxeClient::openTerminal()
{
    // The login and the terminal are modal: the queue serves no second request meanwhile.
    MenuBusy menu(this);
    Logging(2) << "runQterminal";
    LoginDialog login(nullptr);
    keepAuxiliary(&login);
    if (login.exec() == QDialog::Accepted && LoginDialog::IsServicePassword(login.password)) {
        WaitLoop::ServePending();
        QPointer<TerminalWidget> terminal = new TerminalWidget(nullptr);
        WaitLoop::ServePending();
        terminal->setGeometry(clientRect);
        keepAuxiliary(terminal.data());
        terminal->exec();
        // A shell still running goes with its terminal.
        if (terminal)
            terminal->deleteLater();
    }
}

void PxeClient::on_pbVaultine_clicked()
{
    // A bench with a run (its window closed meanwhile or not) is the bench: it is shown again,
    // never replaced, for replacing it would end the engine half way. Only Cancel stops a run.
    for (const QPointer<QWidget> &window : qAsConst(auxiliaryWindows)) {
        auto *old = qobject_cast<TestVtl *>(window.data());
        if (old && old->HasRun()) {
            old->show();
            old->raise();
            old->activateWindow();
            return;
        }
    }
    // Close only hides a bench; a new opening builds a new one, so the idle hidden ones go.
    for (const QPointer<QWidget> &window : qAsConst(auxiliaryWindows)) {
        auto *old = qobject_cast<TestVtl *>(window.data());
        if (old && !old->isVisible())
            old->deleteLater();
    }
    auto *bench = new TestVtl();
    bench->setGeometry(clientRect);
    bench->show();
    keepAuxiliary(bench);
}

void PxeClient::on_pbRestorePartTbl_clicked()
{
    // A hidden row that only exercises the progress dialog: a title, a message and the bar.
    MenuBusy menu(this);
    Utils::GetInstance()->ExecuteProgressShell(
        QStringLiteral("sh"),
        {QStringLiteral("-c"), QStringLiteral("echo 'TTT Progress test'; for i in 0 25 50 75 100; do echo \"XXX Step $i\"; "
                                              "echo $i; sleep 0.3; done")},
        nullptr, true);
}
