#pragma once
// The console's one command runner. Every program the console starts goes through here: blocking
// runs with a time limit, piped runs, progress runs that the command drives through the line
// protocol below, and asynchronous runs that report by signal. Every wait is a WaitLoop: the window
// stays served (blocking runs hold user input back until they return), and every wait ends (time
// limit, failed start, crash, the application quitting). A progress run owns its own state, so a
// run started while another waits never takes the other's output or result.
//
// Progress line protocol (a child's output lines under a progress dialog):
//   XXX text   the dialog's message        YYY text   a line added under the message
//   TTT text   the dialog's title          LLL text   a line of the console's main log
//   ...checkpoint...  the bar moves one up  42         the bar moves to 42
// Anything else is ignored.

#include "resultcodes.h"

#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

class Progress;
class UdpSocketHandler;
class QWidget;

class Utils : public QObject
{
    Q_OBJECT
public:
    static Utils *GetInstance();

    // Blocking runs: the standard output (debug forms: merged with standard error, and copied to
    // the side log) trimmed and split at line ends. A command that printed nothing or cannot
    // start gives an empty list; one still running at the limit is killed and gives what it
    // printed so far.
    static QStringList ExecuteShell(const QString &commandLine, int timeoutMs = 60000);
    static QStringList ExecuteShell(const QString &program, const QStringList &args, int timeoutMs = 60000);
    static QStringList ExecuteShellDebug(const QString &commandLine, int timeoutMs = 60000);
    // exitCode, when given, receives the command's exit code (FailedStartCode, or CrashCode for a
    // command killed at its limit).
    static QStringList ExecuteShellDebug(const QString &program, const QStringList &args, int timeoutMs = 60000,
                                         int *exitCode = nullptr);
    // The first command's output feeds the second's input; the second's output lines.
    static QStringList ExecutePipedShell(const QString &first, const QString &second, int timeoutMs = 60000);

    // Runs a command under a progress dialog (a new one when dialog is null) and returns its exit
    // code once it has finished; a command that cannot start returns FailedStartCode, one that
    // crashes returns CrashCode, and a run whose wait ended before the command did (the
    // application quitting) returns InterruptedCode. envEntry ("NAME=value") is added to the
    // command's environment.
    int ExecuteProgressShell(const QString &program, const QStringList &args, Progress *dialog,
                             bool mergeOutput, const QString &envEntry = QString());
    int ExecuteProgressShell(const QString &commandLine, Progress *dialog, bool mergeOutput);
    static const int FailedStartCode = ResultCode::FailedStart;
    static const int CrashCode = ResultCode::Crash;
    static const int InterruptedCode = ResultCode::Interrupted;

    // Starts a command in the background; SpawnedThreadFinished(exit code) follows (also, with
    // FailedStartCode, when it cannot start). One at a time: while one runs, another is refused
    // (false, and no signal), never put in its place.
    bool SpawnShell(const QString &program, const QStringList &args);
    int spawnExitCode = -1;
    QString spawnOutput;

    // A command its owner follows through the process's own notifications while it runs (output
    // as it arrives, start, error, finish): the test bench's engine runs. The process belongs to
    // owner and runs one command after another; each start is recorded in the side log here.
    static QProcess *CreateWatchedProcess(QObject *owner);
    static void StartWatchedProcess(QProcess *process, const QString &program, const QStringList &args);

    // The busy marker RCV_PID: the console's process id while it installs firmware.
    static void setBusyFlag();
    static void clearBusyFlag();

    // Start-up helpers and the side logs.
    static void InitLogger(int level);
    static QStringList GetCmdLineOptions();
    static void UpdateDefaultFontSize(int points, const QString &styleSheetPath);
    static void SetDefaultStyleSheet(QWidget *widget, const QString &styleSheetPath);
    static void LogMsg(const QString &text, bool alsoMainLog = false);
    static void DebugLog(const QString &text);
    static void RemoveDebugLog();

    // The LAN boot state through "get_pxeswitch.sh".
    static bool GetPxeSwitchEnabled();
    static bool CheckPxeStatus();
    // Switches LAN boot through "pxeswitch -e"/"-d" in the background; SpawnedThreadFinished
    // follows (at once with 0 when the setting already is what was asked). The switch is a drive
    // job: refused (false, no signal) while another runs.
    bool SpawnSetPxeSwitchEnable(bool enable);
    static const QString PXE_SWITCH_JOB;

    // The boot type firmware is installed for: the UEFI marker /tmp/mkefi, else the unit's BIOS
    // version listed in /etc/efi_models (utils_boot.cpp).
    static void SetUefiBootType(bool uefi);
    static bool GetCurrentBootType();
    static void ResetBootType();

    // Replaces (or, with append, extends) a file with content; false when it cannot be written.
    static bool WriteFile(const QString &path, const QByteArray &content, bool append = false);

    // At most maxBytes of a regular file (status files may be huge, or a FIFO someone left in
    // their place: those give nothing rather than a hang).
    static QByteArray ReadFileHead(const QString &path, int maxBytes = 512);

    // The line protocol, for one line of a progress run's output (public for the status channel).
    void ProcessLine(QString line);
    static QString TrimQuotes(QString text);

    static bool debugMode;
    static bool productionMode;
    static bool dontRelease;

signals:
    void SpawnedThreadFinished(int exitCode);

public slots:
    void processUdpData(const QStringList &lines);

private slots:
    void onProcessFinished(int exitCode, QProcess::ExitStatus status);
    void onSpawnError(QProcess::ProcessError error);

private:
    struct ProgressRun;
    Utils();
    static QStringList runBlocking(const QString &program, const QStringList &args, int timeoutMs, bool merged,
                                   int *exitCode = nullptr);
    static QStringList toLines(const QByteArray &output);
    void takeLines(ProgressRun *run, QString &pending, const QByteArray &chunk, const char *prefix);
    void processLine(ProgressRun *run, QString line);
    void processFinished(ProgressRun &run, int exitCode, QProcess::ExitStatus status);
    void spawnEnded(int exitCode);

    UdpSocketHandler *statusChannel = nullptr;
    QProcess *spawnProcess = nullptr;
    bool spawnHoldsPxeSwitch = false;
    // The innermost progress run: status datagrams move its dialog.
    ProgressRun *activeRun = nullptr;
    // The bar of status datagrams that arrive while no run is active.
    int idleProgressValue = 0;
};
