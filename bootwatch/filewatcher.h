#pragma once
// The LAN boot request daemon: watches /tmp/pxe for request files ("getpxeswitch",
// "setpxeswitch", "clearpxeswitch", "exit"), starts the matching LAN boot script for each and
// deletes the file. A second start with the kill word asks the running daemon to stop through
// the stop byte of a small shared memory segment.

#include <QMap>
#include <QObject>
#include <QSharedMemory>
#include <QString>
#include <QStringList>

class QFileSystemWatcher;
class QTimer;

class FileWatcher : public QObject
{
    Q_OBJECT
public:
    // Decides from the command line what this start is: a kill start does its work here and
    // finishes at once; any other start becomes the daemon unless one already runs.
    explicit FileWatcher(QObject *parent = nullptr);
    ~FileWatcher() override;

    void InitDaemon();

    // True when the start has finished in the constructor and the event loop must not run;
    // exitStatus() is then the process's status.
    bool finished() const { return startFinished; }
    int exitStatus() const { return startStatus; }

    // The daemon's liveness lock: held by the running daemon for its whole life and released by
    // the kernel however it ends (SIGKILL included), unlike the shared segment, which a killed
    // daemon leaves behind.
    static const QString LOCK_FILE;
    static const QString REQUEST_DIR;

public slots:
    void onWatcherEvent(const QString &filePath);
    void onDirChange(const QString &path);
    void onTimerTrip();

private:
    enum Liveness { NoDaemon, DaemonRuns, Unknown };

    Liveness takeDaemonLock();
    void killStart(Liveness liveness);
    bool becomeDaemon(Liveness liveness);
    bool startCommand(const QString &command);
    void finish(int status);

    QStringList arguments;
    QSharedMemory sharedMemory;
    QFileSystemWatcher *dirWatcher = nullptr;
    QTimer *tripTimer = nullptr;
    QMap<QString, QString> actionMap;
    bool stopRequested = false;
    bool startFinished = false;
    int startStatus = 0;
    int lockFd = -1;
};
