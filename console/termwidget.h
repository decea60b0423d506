#pragma once
// The service terminal's view: a qtermwidget terminal set up as the console wants it (black on
// white, monospace 12 pt, 500 lines of history, underline cursor), running the shell that SHELL
// names, split into the program and its options, from "/".

#include <QFont>
#include <QStringList>
#include <qtermwidget.h>

class Logging;

class TermWidget : public QTermWidget
{
    Q_OBJECT
public:
    explicit TermWidget(QWidget *parent = nullptr);

    void propertiesChanged();
    QFont getDefaultFont();

    // Ends a shell that still runs: hangs up its terminal (SIGHUP, which an interactive shell
    // passes on to its jobs), and kills it when it has not gone within timeoutMs. The window
    // serves its events meanwhile.
    void HangUp(int timeoutMs = 3000);
    bool ShellRunning() const { return shellRunning; }

    QString shellProgram;     // empty: the library's own default
    QStringList shellArgs;

private:
    Logging *logger = nullptr;
    bool shellRunning = false;
};
