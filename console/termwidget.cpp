#include "termwidget.h"

#include "waitloop.h"

#include "logging.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QThread>
#include <QTimer>

#include <csignal>
#include <sys/types.h>

TermWidget::TermWidget(QWidget *parent) : QTermWidget(0, parent)
{
    logger = Logging::GetInstance(7, false);
    propertiesChanged();

    // The shell starts in "/". (Changing the directory of a running shell is the library's own
    // "cd" typed into it; before the start the working directory alone decides.)
    setWorkingDirectory(QStringLiteral("/"));

    QByteArray shell = qgetenv("SHELL");
    const int zero = shell.indexOf('\0');
    if (zero >= 0)
        shell.truncate(zero);
    const QString shellLine = QString::fromLocal8Bit(shell);
    if (!shellLine.isEmpty()) {
        Logging(2) << "Shell program:" << shellLine;
        QStringList pieces = shellLine.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
        Logging(2) << pieces;
        if (!pieces.isEmpty()) {
            shellProgram = pieces.takeFirst();
            shellArgs = pieces;
            setShellProgram(shellProgram);
            setArgs(shellArgs);
        }
    }
    Logging(2) << QStringLiteral("Key Bindings\n") + keyBindings();

    connect(this, &QTermWidget::finished, this, [this]() { shellRunning = false; });
    startShellProgram();
    shellRunning = getShellPID() > 0;
}

void TermWidget::propertiesChanged()
{
    setColorScheme(QStringLiteral("BlackOnWhite"));
    setTerminalFont(getDefaultFont());
    setHistorySize(500);
    setTerminalOpacity(1.0);
    setScrollBarPosition(QTermWidget::ScrollBarRight);
    setKeyboardCursorShape(QTermWidget::KeyboardCursorShape::UnderlineCursor);
    update();
}

QFont TermWidget::getDefaultFont()
{
    QFont font = QApplication::font();
    font.setFamily(QStringLiteral("Monospace"));
    font.setPointSize(12);
    font.setStyleHint(QFont::TypeWriter, QFont::PreferDefault);
    return font;
}

void TermWidget::HangUp(int timeoutMs)
{
    const pid_t shell = getShellPID();
    if (!shellRunning || shell <= 0)
        return;
    Logging(2) << "TermWidget::HangUp shell" << int(shell);
    ::kill(shell, SIGHUP);
    QElapsedTimer clock;
    clock.start();
    bool killed = false;
    while (shellRunning && getShellPID() > 0) {
        if (!killed && clock.elapsed() >= timeoutMs) {
            // A shell (or a program it runs in the foreground) that ignores the hang-up.
            Logging(2) << "TermWidget::HangUp shell ignored SIGHUP, killing" << int(shell);
            ::kill(shell, SIGKILL);
            killed = true;
        } else if (killed && clock.elapsed() >= 2 * timeoutMs) {
            break;
        }
        // While the application quits no loop runs: the shell is still given its time.
        if (WaitLoop(QEventLoop::ExcludeUserInputEvents).Wait(20) == WaitLoop::Interrupted)
            QThread::msleep(20);
    }
}
