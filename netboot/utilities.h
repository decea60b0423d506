#pragma once
// Services every part of the LAN boot utility shares: running the firmware and system tools with
// their time limit, reading and writing small text files, and the weighted log that goes both to
// /tmp/BiosHandler.log and to the terminal. Also the paths the whole utility agrees on.

#include <QObject>
#include <QString>
#include <QStringList>

static const QString BIOS_STATE_FILE = QStringLiteral("/var/hardware/pxe_state");
static const QString HW_PLATFORM_FILE = QStringLiteral("/var/hardware/platform");
static const QString dbugLog = QStringLiteral("/tmp/BiosHandler.log");
static const QString LOCK_FILE = QStringLiteral("/var/lock/BiosHandler.lck");
static const QString VERSION = QStringLiteral("3.0.0");

// Weight of a log message: -1 is always logged (errors, aborts), 1 command lines and summary
// figures, 2 progress and raw tool output, 3 every parsed setting.
typedef int DebugLevel;

class Utilities : public QObject
{
    Q_OBJECT
public:
    static Utilities *GetInstance();

    // Maps the user's level (the -l option) to the highest weight that is logged.
    void setDebugLevel(int level);
    int DebugThreshold() const { return debugThreshold; }
    static void SetTestMode(bool on);
    static bool TestMode();

    // Every tool is run here: output and error merged, read as Latin-1, 30 s limit. A tool still
    // running at the limit is left running; with toTheEnd (firmware tools run under the lock) it
    // is waited for until it ends, however long that takes.
    QString ExecuteCmdString(const QString &program, const QStringList &arguments, bool toTheEnd = false);
    QStringList ExecuteCmd(const QString &program, const QStringList &arguments);
    QString GetCommandResults(const QString &commandLine, bool toTheEnd = false);

    QStringList ReadTextFile(const QString &path);
    bool WriteTextFile(const QString &path, const QStringList &lines, bool append);

    void LogMessage(DebugLevel level, const QString &message);
    void OutputMessageToTerminal(const QString &message);

    static const int COMMAND_TIMEOUT_MS = 30000;

private:
    explicit Utilities(QObject *parent = nullptr);
    static QString Latin1UpToZero(const QByteArray &bytes);

    int debugThreshold = 0;
    static Utilities *_myInstance;
    static bool _testMode;
};

extern Utilities *utils;

void PrintInfo(const QStringList &lines);
int RunWindowed(int argc, char *argv[]);
