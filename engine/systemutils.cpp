#include "systemutils.h"

#include "partitionname.h"
#include "udpsockethandler.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkInterface>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <QUuid>

#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

const QString divline(86, QLatin1Char('-'));

const QString SystemUtils::rcvTaskFile = QStringLiteral("/var/log/rcv_task");
const QString SystemUtils::rcvStatusFile = QStringLiteral("/var/log/rcv_status");
const QString SystemUtils::rcvryLog = QStringLiteral("/var/log/recovery.log");
const QString SystemUtils::tmpExecDir = QStringLiteral("/tmp/.pxe-exec/");
const QString SystemUtils::pipeStatus = QStringLiteral("/tmp/.pxe-exec/pipe-status");
const QString SystemUtils::ABORT_FILE = QStringLiteral("/tmp/abort-vtl");
const QString SystemUtils::DGS3 = QStringLiteral("[0-9][0-9][0-9]");
const QString SystemUtils::PID_FILE = QStringLiteral("/var/log/vtl_pid");
const QString SystemUtils::LOCK_FILE = QStringLiteral("/var/lock/vtl.lock");
const QString SystemUtils::TIME_DATE_FORMAT = QStringLiteral("yyyy/MM/dd hh:mm:ss");
QString SystemUtils::ipAddress;
QString SystemUtils::myMac;
QMap<int, QString> SystemUtils::ErrorDescriptions;
int SystemUtils::guiType = 3;
UdpSocketHandler *SystemUtils::ush = nullptr;

static const QString GAUGE_LOG = QStringLiteral("/tmp/gauge.log");
static const QString DIALOG_FILE = QStringLiteral("/tmp/dialog.txt");

// The console reads our standard output and error line by line while we run: every write
// goes out at once.
static void writeStream(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    fflush(stream);
}

static void appendRaw(const QString &path, const QString &text)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    f.write(text.toLocal8Bit());
    f.flush();
    f.close();
}

static QString withLineEnd(const QString &text)
{
    return text.endsWith('\n') ? text : text + '\n';
}

SystemUtils::SystemUtils(QObject *parent)
    : QObject(parent),
      logFile(QStringLiteral("/var/log/recovery.log")),
      debugLogFile(QStringLiteral("/var/log/vtl_debug.log"))
{
    // Only the first object of the process listens, so each datagram is handled once.
    if (ush == nullptr) {
        ush = UdpSocketHandler::instance();
        connect(ush, &UdpSocketHandler::UdpDataReady, this, &SystemUtils::onUdpDataReady);
    }
    if (ErrorDescriptions.isEmpty())
        FillErrorInfo();
}

SystemUtils::~SystemUtils() = default;

// ---------------------------------------------------------------- logs and messages

void SystemUtils::LogMessage(const QString &message, const QString &file, bool stamp)
{
    if (file.isEmpty())
        return;
    QString line = message;
    if (stamp)
        line.prepend(QStringLiteral("[%1] ").arg(QDateTime::currentDateTime().toString(TIME_DATE_FORMAT)));
    appendRaw(file, withLineEnd(line));
}

void SystemUtils::LogDebug(const QString &message, bool stamp)
{
    LogMessage(message, debugLogFile, stamp);
}

void SystemUtils::ErrorMesg(const QString &message)
{
    writeStream(stderr, message + '\n');
    LogMessage(message, logFile, false);
    LogMessage(message, debugLogFile, false);
}

void SystemUtils::ShowMessage(const QString &message, bool stamp, const QString &file)
{
    QString line = message;
    if (stamp)
        line.prepend(QStringLiteral("[%1] ").arg(QDateTime::currentDateTime().toString(TIME_DATE_FORMAT)));
    writeStream(stdout, line + '\n');
    LogMessage(line, file.isEmpty() ? logFile : file, false);
}

void SystemUtils::LogPrep()
{
    QFile::remove(logFile);
    QFile::remove(debugLogFile);
}

void SystemUtils::setTempLog(const QString &path, bool deleteFile)
{
    tempLogFile = path;
    if (deleteFile && QFile::exists(path))
        QFile::remove(path);
}

void SystemUtils::ShowVersion()
{
    QString version = QStringLiteral("PXE VERSION UNKNOWN");
    QFile f(QStringLiteral("/etc/version"));
    if (f.open(QIODevice::ReadOnly))
        version = QString::fromLocal8Bit(f.readAll());
    ShowMessage(QString(), true);
    ShowMessage(version, false);
}

// ---------------------------------------------------------------- status output

void SystemUtils::writeWhole(const QString &path, const QString &text)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    f.write(withLineEnd(text).toLocal8Bit());
    f.close();
}

void SystemUtils::UpdateTaskInfo(const QString &text)
{
    writeWhole(rcvTaskFile, text);
}

void SystemUtils::UpdateStatusInfo(const QString &text)
{
    // The tools we start may have been told another status file through RCV_STATUS; the
    // engine's own reports go where the front end looks for them.
    writeWhole(rcvStatusFile, text);
}

void SystemUtils::UpdateGauge(int percent, const QString &title, const QString &text, const QString &extra)
{
    const QString pct = QString::number(percent);
    switch (guiType) {
    case 2: { // the recovery console
        QString block = QStringLiteral("XXX %1\n%2\n").arg(title, pct);
        if (!extra.isEmpty())
            block += QStringLiteral("YYY ") + extra + '\n';
        if (!text.isEmpty())
            block += QStringLiteral("TTT ") + text + '\n';
        writeStream(stderr, block);
        break;
    }
    case 0: { // a text-mode dialog reading /tmp/dialog.txt
        QString block = QStringLiteral("XXX\n\n%1\n%2%\n").arg(pct, title);
        if (!text.isEmpty())
            block += QStringLiteral("    ") + text + '\n';
        block += QStringLiteral("XXX\n");
        LogMessage(block + '\n', GAUGE_LOG, true);
        appendRaw(DIALOG_FILE, block);
        break;
    }
    default: { // forms M and none
        const QString line = QStringLiteral("UpdateGauge: %1, %2, %3").arg(pct, title, text);
        writeStream(stderr, line + '\n');
        LogMessage(line + '\n', GAUGE_LOG, true);
        break;
    }
    }
}

void SystemUtils::onUdpDataReady(QStringList lines)
{
    for (const QString &line : lines) {
        if (line.toLower().contains(QLatin1String("percent complete"))) {
            const QStringList pieces = line.split(' ', Qt::SkipEmptyParts);
            bool ok = false;
            const int percent = pieces.isEmpty() ? 0 : pieces.first().toInt(&ok, 10);
            if (ok)
                UpdateGauge(percent, QString(), QString(), QString());
        } else {
            UpdateStatusInfo(lines.join('\n'));
        }
    }
}

// ---------------------------------------------------------------- running programs

QString SystemUtils::runProcess(const QString &program, const QStringList &arguments, bool merged, int timeout,
                                int *exitCode)
{
    if (exitCode)
        *exitCode = -1;
    QProcess process;
    process.setProcessChannelMode(merged ? QProcess::MergedChannels : QProcess::SeparateChannels);
    process.start(program, arguments);
    if (!process.waitForStarted(30000))
        return QString();
    process.closeWriteChannel();
    if (!process.waitForFinished(timeout)) {
        // Whatever it printed so far is the answer; the process object kills it on the way out.
        process.kill();
        process.waitForFinished(5000);
    } else if (exitCode && process.exitStatus() == QProcess::NormalExit) {
        *exitCode = process.exitCode();
    }
    return QString::fromLatin1(process.readAllStandardOutput());
}

QString SystemUtils::ExecuteCommand(const QString &command, int timeout)
{
    QStringList words = QProcess::splitCommand(command);
    if (words.isEmpty())
        return QString();
    const QString program = words.takeFirst();
    const QString out = runProcess(program, words, false, timeout);
    const int zero = out.indexOf(QChar(0));
    return zero < 0 ? out : out.left(zero);
}

QString SystemUtils::ExecuteCommandDebug(const QString &command)
{
    QStringList words = QProcess::splitCommand(command);
    if (words.isEmpty())
        return QString();
    const QString program = words.takeFirst();
    return runProcess(program, words, true, 60000);
}

QStringList SystemUtils::ExecuteShell(const QString &command, int timeout)
{
    QStringList words = QProcess::splitCommand(command);
    if (words.isEmpty())
        return QStringList{QString()};
    const QString program = words.takeFirst();
    return runProcess(program, words, false, timeout).trimmed().split('\n');
}

QStringList SystemUtils::ExecuteShell(const QString &program, const QStringList &arguments, int timeout)
{
    LogMessage(program + '\n', logFile, false);
    LogMessage(program + '\n', debugLogFile, false);
    return runProcess(program, arguments, false, timeout).trimmed().split('\n');
}

QStringList SystemUtils::ExecuteShellDebug(const QString &program, const QStringList &arguments, int timeout,
                                           int *exitCode)
{
    const QString line = program + ' ' + arguments.join(' ') + '\n';
    LogMessage(line, logFile, false);
    LogMessage(line, debugLogFile, false);
    return runProcess(program, arguments, true, timeout, exitCode).trimmed().split('\n');
}

QString SystemUtils::ShellQuote(const QString &word)
{
    QString quoted = word;
    quoted.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

QString SystemUtils::CommandQuote(const QString &word)
{
    // QProcess::splitCommand reads three double quotes inside a quoted word as one literal quote.
    QString quoted = word;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString SystemUtils::CreateExecutableFile(const QList<myProcess> &processes)
{
    QStringList exports;
    QString pipeline;
    bool first = true;
    for (const myProcess &p : processes) {
        if (p.program.startsWith(QLatin1String("export"))) {
            exports << p.program;
            continue;
        }
        if (!first)
            pipeline += QLatin1String(" | ");
        pipeline += QStringLiteral("%1 %2").arg(p.program, p.arguments.join(' '));
        first = false;
    }

    const QString uuid = QUuid::createUuid().toString().remove('{').remove('}').remove('-');
    const QString path = tmpExecDir + uuid.right(8);
    QDir().mkpath(tmpExecDir);

    QString script = QStringLiteral("#!/bin/bash\n\n");
    if (!exports.isEmpty())
        script += exports.join('\n') + '\n';
    script += pipeline + '\n';
    script += QStringLiteral("echo \"${PIPESTATUS[@]}\" > ") + pipeStatus + '\n';

    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return path;
    f.write(script.toLocal8Bit());
    f.flush();
    f.close();
    f.setPermissions(QFileDevice::WriteOwner | QFileDevice::ReadOther | QFileDevice::ExeOther);
    return path;
}

void SystemUtils::MakeTmpExecDir()
{
    ExecuteCommand(QStringLiteral("mkdir ") + tmpExecDir);
}

// ---------------------------------------------------------------- process control files

void SystemUtils::createPidFile()
{
    writeWhole(PID_FILE, QString::number(QCoreApplication::applicationPid()));
}

bool SystemUtils::pidFileExists()
{
    QFile f(PID_FILE);
    if (!f.exists())
        return false;
    if (!f.open(QIODevice::ReadOnly))
        return false;
    bool ok = false;
    const qint64 pid = QString::fromLatin1(f.readAll()).trimmed().toLongLong(&ok);
    if (!ok || pid <= 0)
        return false;
    return !ExecuteCommand(QStringLiteral("ps -p %1 -o pid=").arg(pid)).trimmed().isEmpty();
}

void SystemUtils::removePidFile()
{
    QFile::remove(PID_FILE);
}

void SystemUtils::removeAbortFile()
{
    QFile::remove(ABORT_FILE);
}

bool SystemUtils::abortFileExists()
{
    return QFile::exists(ABORT_FILE);
}

bool SystemUtils::takeRunLock()
{
    // The descriptor stays open (and locked) for the rest of the process; the kernel releases the
    // lock however the engine ends, so a crashed engine never blocks the next one.
    static int lockFd = -1;
    if (lockFd >= 0)
        return true;
    QDir().mkpath(QFileInfo(LOCK_FILE).absolutePath());
    const int fd = ::open(QFile::encodeName(LOCK_FILE).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    lockFd = fd;
    return true;
}

// ---------------------------------------------------------------- device, environment, network

void SystemUtils::initEvironmentVariables()
{
    const QByteArray type = qgetenv("GUI_TYPE");
    if (type == "Q")
        guiType = 2;
    else if (type == "G")
        guiType = 0;
    else if (type == "M")
        guiType = 1;
    else
        guiType = 3;
}

QString SystemUtils::getDeviceFromFilesystem()
{
    return ExecuteCommand(QStringLiteral("ahd.sh"), 60000).trimmed();
}

QString SystemUtils::AdjustDeviceName(QString device, int number)
{
    if (device.isEmpty())
        device = QStringLiteral("/dev/%1").arg(getDeviceFromFilesystem());
    return PartitionName::of(device, number);
}

void SystemUtils::RefreshNIC()
{
    ipAddress = QStringLiteral("127.0.0.1");
    myMac = QStringLiteral("00:00:00:00:00:00");
    for (const QNetworkInterface &nic : QNetworkInterface::allInterfaces()) {
        if (nic.isValid() && nic.type() == QNetworkInterface::Ethernet)
            myMac = nic.hardwareAddress();
        const QList<QNetworkAddressEntry> entries = nic.addressEntries();
        if (!entries.isEmpty()) {
            ipAddress = entries.first().ip().toString();
            break;
        }
    }
    LogDebug(QStringLiteral("My IP =") + ipAddress + QStringLiteral(", Address=") + myMac, false);
}

QString SystemUtils::GetLastSixofMac()
{
    if (ipAddress.isEmpty())
        RefreshNIC();
    myMac.remove(':');
    return myMac.right(6);
}

QString SystemUtils::GetMd5Sum(const QString &path, bool stoppable)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    QCryptographicHash hash(QCryptographicHash::Md5);
    QByteArray block(4 * 1024 * 1024, Qt::Uninitialized);
    for (;;) {
        if (stoppable && abortFileExists())
            return QString();
        const qint64 n = f.read(block.data(), block.size());
        if (n < 0)
            return QString();
        if (n == 0)
            break;
        hash.addData(block.constData(), int(n));
    }
    return QString::fromLatin1(hash.result().toHex());
}

static QStringList mountLine(const QString &dir)
{
    // /proc/self/mounts: source, mount point (blanks escaped as \040), type, ...
    QFile mounts(QStringLiteral("/proc/self/mounts"));
    if (!mounts.open(QIODevice::ReadOnly))
        return QStringList();
    const QString target = QDir::cleanPath(dir).replace(' ', QLatin1String("\\040"));
    const QStringList lines = QString::fromLocal8Bit(mounts.readAll()).split('\n');
    for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
        const QStringList fields = it->split(' ');
        if (fields.size() > 2 && fields[1] == target)
            return fields;
    }
    return QStringList();
}

bool SystemUtils::isMountPoint(const QString &dir)
{
    return !mountLine(dir).isEmpty();
}

bool SystemUtils::MountPartition(const QString &partition, const QString &dir)
{
    QDir().mkpath(dir);
    int status = -1;
    const QString out = runProcess(QStringLiteral("mount"), {partition, dir}, true, 60000, &status);
    if (status == 0)
        return true;
    LogDebug(QStringLiteral("mount %1 %2: %3").arg(partition, dir, out.trimmed()), true);
    const QString type = runProcess(QStringLiteral("blkid"), {QStringLiteral("-o"), QStringLiteral("value"),
                                                                QStringLiteral("-s"), QStringLiteral("TYPE"), partition},
                                    false, 60000).trimmed();
    if (type == QLatin1String("vfat") || type == QLatin1String("msdos")) {
        runProcess(QStringLiteral("fusefat"), {QStringLiteral("-o"), QStringLiteral("rw+"), partition, dir}, true, 60000, &status);
        LogDebug(QStringLiteral("fusefat %1 %2: %3").arg(partition, dir, QString::number(status)), true);
    }
    return isMountPoint(dir);
}

void SystemUtils::UnmountPartition(const QString &dir)
{
    const QStringList fields = mountLine(dir);
    runProcess(QStringLiteral("umount"), {dir}, true, 60000);
    if (fields.size() < 3 || !fields[2].startsWith(QLatin1String("fuse")))
        return;
    // A FUSE daemon finishes its writes after the unmount returns; wait until it has let go.
    for (int i = 0; i < 600; ++i) {
        int status = -1;
        runProcess(QStringLiteral("fuser"), {QStringLiteral("-s"), fields[0]}, true, 60000, &status);
        if (status != 0)
            return;
        QThread::msleep(100);
    }
    LogDebug(QStringLiteral("%1 is still busy after unmounting %2").arg(fields[0], dir), true);
}

void SystemUtils::FillErrorInfo()
{
    ErrorDescriptions = {
        {0, QStringLiteral("No Error")},
        {1000, QStringLiteral("User Abort Requested")},
        {1001, QStringLiteral("Drive is too small for image")},
        {1002, QStringLiteral("There was a problem restoring the partition table")},
        {1003, QStringLiteral("There is a problem with the partition table")},
        {1004, QStringLiteral("Could not find specified file")},
        {1005, QStringLiteral("Could not find the target drive")},
        {1006, QStringLiteral("The process did not start")},
        {1007, QStringLiteral("The NTFS Volume is dirty and has been marked for checking on next boot")},
        {1008, QStringLiteral("Resizing the NTFS Volume failed")},
        {1009, QStringLiteral("The NTFS Volume has a problem")},
        {1010, QStringLiteral("Could not shrink the NTFS Volume")},
        {1011, QStringLiteral("Could not expandthe NTFS Volume")},
        {1012, QStringLiteral("Could not fiind the specified partition")},
        {1013, QStringLiteral("Failed to backup/clone the NTFS Volume")},
        {1014, QStringLiteral("Failed to restore/deploy the NTFS Volume")},
        {1015, QStringLiteral("Backup/Clone Failed")},
        {1016, QStringLiteral("Restore/Deploy Failed")},
        {1017, QStringLiteral("There is a problem with the NTFS Volume")},
        {1018, QStringLiteral("The checksum failed")},
    };
}
