#include "filewatcher.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QProcess>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

static const QString shmKey = QStringLiteral("PxeSwitchDKey");
static const QString getPxeSwitchPath = QStringLiteral("getpxeswitch");
static const QString getPxeSwitchAction = QStringLiteral("get_pxeswitch.sh");
static const QString setEnablePxeSwitchPath = QStringLiteral("setpxeswitch");
static const QString setEnablePxeSwitchAction = QStringLiteral("set_pxeswitch.sh -e");
static const QString setDisablePxeSwitchPath = QStringLiteral("clearpxeswitch");
static const QString setDisablePxeSwitchAction = QStringLiteral("set_pxeswitch.sh -d");
static const QString exitDaemonPath = QStringLiteral("exit");

// Byte 0 of the segment is the stop byte; the rest is unused.
static const int SEGMENT_SIZE = 8;

const QString FileWatcher::LOCK_FILE = QStringLiteral("/var/lock/bootwatch.lock");
const QString FileWatcher::REQUEST_DIR = QStringLiteral("/tmp/pxe");

// Messages for whoever started us (the daemon stays in their foreground); written at once.
static void complain(const QString &text)
{
    const QByteArray line = "bootwatch: " + text.toLocal8Bit() + "\n";
    fwrite(line.constData(), 1, size_t(line.size()), stderr);
    fflush(stderr);
}

// The whole lock file, as one write lock.
static struct flock wholeFile()
{
    struct flock fl;
    std::memset(&fl, 0, sizeof fl);
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 0;
    return fl;
}

// Whether some process holds the daemon lock, without taking it (a kill start must never make a
// daemon starting at the same moment believe that one runs already). Unknown when the lock file
// cannot be read: a daemon that could not make it falls back to the segment alone.
static int lockHolder(bool *held)
{
    const int fd = ::open(QFile::encodeName(FileWatcher::LOCK_FILE).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct flock fl = wholeFile();
    const int rc = ::fcntl(fd, F_GETLK, &fl);
    ::close(fd);
    if (rc != 0)
        return -1;
    *held = fl.l_type != F_UNLCK;
    return *held ? int(fl.l_pid) : 0;
}

FileWatcher::FileWatcher(QObject *parent)
    : QObject(parent)
    , arguments(QCoreApplication::arguments())
{
    sharedMemory.setKey(shmKey);

    bool killWord = false;
    if (arguments.size() > 1) {
        QString word = arguments.at(1);
        while (word.startsWith(QLatin1Char('-')))
            word.remove(0, 1);
        killWord = word == QLatin1String("k") || word == QLatin1String("kill");
    }

    if (killWord) {
        bool held = false;
        const int holder = lockHolder(&held);
        killStart(holder < 0 ? Unknown : (held ? DaemonRuns : NoDaemon));
        return;
    }

    if (!becomeDaemon(takeDaemonLock()))
        return;
    InitDaemon();
    connect(dirWatcher, &QFileSystemWatcher::directoryChanged, this, &FileWatcher::onDirChange);
    connect(tripTimer, &QTimer::timeout, this, &FileWatcher::onTimerTrip);
}

FileWatcher::~FileWatcher()
{
    if (sharedMemory.isAttached())
        sharedMemory.detach();
    if (lockFd >= 0)
        ::close(lockFd);
}

void FileWatcher::finish(int status)
{
    startFinished = true;
    startStatus = status;
}

// Takes the daemon lock for the rest of the process. The kernel drops a POSIX record lock when
// its process ends, however it ends, and never hands it to the scripts we start (they are
// separate processes and the descriptor closes on exec), so a script that outlives us cannot
// keep the next start from becoming the daemon.
FileWatcher::Liveness FileWatcher::takeDaemonLock()
{
    QDir().mkpath(QFileInfo(LOCK_FILE).absolutePath());
    const int fd = ::open(QFile::encodeName(LOCK_FILE).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        complain(QStringLiteral("cannot open %1 (%2); a daemon that was killed will make later starts "
                                "believe it still runs")
                     .arg(LOCK_FILE, QString::fromLocal8Bit(std::strerror(errno))));
        return Unknown;
    }
    struct flock fl = wholeFile();
    if (::fcntl(fd, F_SETLK, &fl) == 0) {
        lockFd = fd;
        return NoDaemon;
    }
    const int err = errno;
    ::close(fd);
    if (err == EACCES || err == EAGAIN)
        return DaemonRuns;
    complain(QStringLiteral("cannot lock %1 (%2)").arg(LOCK_FILE, QString::fromLocal8Bit(std::strerror(err))));
    return Unknown;
}

// Asks a running daemon to stop through the stop byte; it ends at its next tick. This process
// ends at once either way and never creates the segment.
void FileWatcher::killStart(Liveness liveness)
{
    if (liveness == NoDaemon) {
        complain(QStringLiteral("no daemon is running"));
        finish(0);
        return;
    }
    if (!sharedMemory.attach(QSharedMemory::ReadWrite)) {
        bool held = false;
        if (liveness == Unknown || lockHolder(&held) == 0) {
            // No segment and no lock holder: nothing runs (or the daemon has just ended).
            complain(QStringLiteral("no daemon is running"));
            finish(0);
            return;
        }
        complain(QStringLiteral("a daemon runs but its stop byte cannot be reached: %1")
                     .arg(sharedMemory.errorString()));
        finish(1);
        return;
    }
    if (!sharedMemory.lock()) {
        complain(QStringLiteral("cannot lock the stop byte: %1").arg(sharedMemory.errorString()));
        sharedMemory.detach();
        finish(1);
        return;
    }
    static_cast<char *>(sharedMemory.data())[0] = 1;
    sharedMemory.unlock();
    sharedMemory.detach();
    complain(QStringLiteral("asked the running daemon to stop"));
    finish(0);
}

// Makes or reuses the segment for a start that is to become the daemon. False (with the start
// finished) when a daemon runs already, or when there is no stop byte to serve.
bool FileWatcher::becomeDaemon(Liveness liveness)
{
    if (liveness == DaemonRuns) {
        bool held = false;
        const int pid = lockHolder(&held);
        complain(pid > 0 ? QStringLiteral("a daemon is already running (pid %1); this start ends").arg(pid)
                         : QStringLiteral("a daemon is already running; this start ends"));
        finish(0);
        return false;
    }
    if (sharedMemory.create(SEGMENT_SIZE, QSharedMemory::ReadWrite))
        return true;
    if (sharedMemory.error() != QSharedMemory::AlreadyExists) {
        complain(QStringLiteral("cannot create the shared segment: %1").arg(sharedMemory.errorString()));
        finish(1);
        return false;
    }
    if (liveness == Unknown) {
        // Without the lock only the segment tells, as it did before the lock existed.
        complain(QStringLiteral("a daemon is already running; this start ends"));
        finish(0);
        return false;
    }
    // We hold the lock, so nobody runs: a daemon that was killed left its segment. Take it over;
    // our detach at the end removes it, as we are its last user.
    if (!sharedMemory.attach(QSharedMemory::ReadWrite) || sharedMemory.size() < 1) {
        complain(QStringLiteral("cannot use the shared segment left by an earlier daemon: %1")
                     .arg(sharedMemory.errorString()));
        finish(1);
        return false;
    }
    return true;
}

void FileWatcher::InitDaemon()
{
    stopRequested = false;

    // Clear a stop request left over from an earlier kill start.
    if (sharedMemory.isAttached() || sharedMemory.attach(QSharedMemory::ReadWrite)) {
        if (sharedMemory.lock()) {
            static_cast<char *>(sharedMemory.data())[0] = 0;
            sharedMemory.unlock();
        }
    }

    actionMap.clear();
    actionMap.insert(getPxeSwitchPath, getPxeSwitchAction);
    actionMap.insert(setEnablePxeSwitchPath, setEnablePxeSwitchAction);
    actionMap.insert(setDisablePxeSwitchPath, setDisablePxeSwitchAction);
    actionMap.insert(exitDaemonPath, QString());

    dirWatcher = new QFileSystemWatcher(this);
    // The daemon does not make the folder: without it no request is ever served.
    if (!QFileInfo(REQUEST_DIR).isDir() || !dirWatcher->addPath(REQUEST_DIR))
        complain(QStringLiteral("%1 does not exist: no request will be served until bootwatch is "
                                "started again after it has been made")
                     .arg(REQUEST_DIR));

    tripTimer = new QTimer(this);
    tripTimer->setInterval(1000);
    tripTimer->start();

    complain(QStringLiteral("watching %1 for LAN boot requests; stop with \"bootwatch --kill\" or an "
                            "\"exit\" file there")
                 .arg(REQUEST_DIR));
}

void FileWatcher::onTimerTrip()
{
    if (sharedMemory.lock()) {
        if (static_cast<const char *>(sharedMemory.constData())[0] != 0)
            stopRequested = true;
        sharedMemory.unlock();
    }
    if (stopRequested) {
        tripTimer->stop();
        sharedMemory.detach();
        QCoreApplication::exit(0);
    }
}

void FileWatcher::onDirChange(const QString &path)
{
    qDebug() << "onDirChange" << path;
    const QStringList names = QDir(path).entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QString &name : names) {
        if (actionMap.contains(name))
            onWatcherEvent(path + QLatin1Char('/') + name);
    }
}

void FileWatcher::onWatcherEvent(const QString &filePath)
{
    if (!QFileInfo::exists(filePath))
        return;
    qDebug() << "onWatcherEvent" << filePath;
    const QString name = QFileInfo(filePath).fileName();
    if (!actionMap.contains(name))
        return;
    if (name == exitDaemonPath)
        stopRequested = true;
    else
        startCommand(actionMap.value(name));
    // The file goes whether or not the command started; a request left behind would start its
    // command again at every later change of the folder.
    if (!QFile::remove(filePath) && QFileInfo::exists(filePath))
        complain(QStringLiteral("cannot delete the request %1").arg(filePath));
}

// The one place where this program starts another: detached, found on PATH, no shell; the daemon
// neither waits for it nor watches it, so there is no time limit to keep.
bool FileWatcher::startCommand(const QString &command)
{
    QStringList words = command.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return false;
    const QString program = words.takeFirst();
    if (!QProcess::startDetached(program, words)) {
        complain(QStringLiteral("cannot start %1").arg(command));
        return false;
    }
    return true;
}
