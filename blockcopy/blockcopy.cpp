#include "blockcopy.h"

#include <QDateTime>
#include <QFile>
#include <QHostAddress>
#include <QThread>
#include <QUdpSocket>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

static const QString DEFAULT_STATUS_FILE = QStringLiteral("/var/log/rcv_status");
static const QString DEFAULT_LOG_FILE = QStringLiteral("/var/log/recovery.log");
static const QString SEND_LOG = QStringLiteral("/tmp/qudp-send.log");
static const QString TIME_DATE_FORMAT = QStringLiteral("yyyy/MM/dd hh:mm:ss");

namespace {

struct ReadResult {
    size_t bytes = 0;
    int error = 0;      // errno of a failed read, 0 when the input only ended
};

// Reads until `want` bytes are in, the input ends or a read fails: pipes hand data over in
// pieces, and a short read is not the end of the input.
ReadResult readFully(int fd, char *buffer, size_t want)
{
    ReadResult r;
    while (r.bytes < want) {
        const ssize_t n = ::read(fd, buffer + r.bytes, want - r.bytes);
        if (n > 0) {
            r.bytes += size_t(n);
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            r.error = errno;
            break;
        }
    }
    return r;
}

// Writes all `size` bytes; on failure `written` tells how many went out before it.
bool writeFully(int fd, const char *buffer, size_t size, size_t *written, int *error)
{
    *written = 0;
    while (*written < size) {
        const ssize_t n = ::write(fd, buffer + *written, size - *written);
        if (n > 0) {
            *written += size_t(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            *error = n < 0 ? errno : ENOSPC;
            return false;
        }
    }
    return true;
}

// Makes the data written to fd reach the drive or file behind it. A device or a file takes
// writes into the page cache, and a drive that refuses them reports it only here; a pipe or
// a socket has nothing to flush. 0, or the errno of the failed flush.
int flushToDevice(int fd)
{
    struct stat st;
    if (::fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISBLK(st.st_mode)))
        return 0;
    while (::fdatasync(fd) != 0) {
        if (errno == EINTR)
            continue;
        return errno == EINVAL || errno == EROFS ? 0 : errno;
    }
    return 0;
}

} // namespace

BlockCopy::BlockCopy(QObject *parent) : QObject(parent), socket(new QUdpSocket(this))
{
    statusFile = qEnvironmentVariable("RCV_STATUS");
    if (statusFile.isEmpty())
        statusFile = DEFAULT_STATUS_FILE;
    logFile = qEnvironmentVariable("RCV_LOG");
    if (logFile.isEmpty())
        logFile = DEFAULT_LOG_FILE;
    sendLog = SEND_LOG;
}

BlockCopy::~BlockCopy()
{
    if (inputStream && inputStream != stdin)
        fclose(inputStream);
    if (outputStream && outputStream != stdout)
        fclose(outputStream);
}

bool BlockCopy::Start(const QString &src, const QString &dst, quint32 count)
{
    if (src == QLatin1String("-")) {
        inputStream = stdin;
    } else {
        inputStream = fopen(QFile::encodeName(src).constData(), "rb");
        if (!inputStream) {
            WriteLogMessage("Could Not open " + src);
            return false;
        }
    }
    if (dst == QLatin1String("-")) {
        outputStream = stdout;
    } else {
        outputStream = fopen(QFile::encodeName(dst).constData(), "wb");
        if (!outputStream) {
            WriteLogMessage("Could Not open " + dst);
            return false;
        }
    }

    bool result = CopyBlocks(inputStream, outputStream, count);

    if (inputStream != stdin)
        fclose(inputStream);
    inputStream = nullptr;
    // A file system may refuse the data only when the file is closed (NFS, a full disk with
    // delayed allocation): that is a failed write, not a finished copy.
    const int closed = outputStream != stdout ? fclose(outputStream) : fflush(outputStream);
    const int closeError = errno;
    outputStream = nullptr;
    if (closed != 0 && result) {
        reportFailure("write", blocksCopied, closeError);
        result = false;
    }
    return result;
}

quint64 BlockCopy::chunkEnd(quint64 first, quint64 count)
{
    const quint64 limit = qMin(first + CHUNK_BLOCKS, count) - 1;
    if (first == 0)
        return 0;   // 0 percent is reported right after the first block
    // The next block whose percentage differs from the one before it.
    const quint64 previous = (first - 1) * 100 / count;
    const quint64 next = qMax(first, ((previous + 1) * count + 99) / 100);
    return qMin(limit, next);
}

void BlockCopy::reportFailure(const char *what, quint64 block, int error)
{
    const QString text = QStringLiteral("Failed to %1 block #%2 (ERROR: %3 - %4)")
                             .arg(QLatin1String(what), QString::number(block), QString::number(error),
                                  QString::fromLocal8Bit(strerror(error)));
    WriteLogMessage(text);
    WriteStatusMessage(text);
}

bool BlockCopy::CopyBlocks(FILE *input, FILE *output, quint32 count)
{
    const int in = fileno(input);
    const int out = fileno(output);
    posix_fadvise(in, 0, 0, POSIX_FADV_SEQUENTIAL);
    // A pipe as wide as one chunk lets every chunk go over in one write.
    fcntl(out, F_SETPIPE_SZ, int(CHUNK_BLOCKS * BLOCK_SIZE));
    std::vector<char> buffer(CHUNK_BLOCKS * BLOCK_SIZE);

    quint64 i = 0;
    qint64 last = -1;   // no percentage reported yet
    blocksCopied = 0;
    while (i != count) {
        const quint64 end = chunkEnd(i, count);
        const size_t want = size_t(end - i + 1) * BLOCK_SIZE;
        const ReadResult got = readFully(in, buffer.data(), want);

        // Blocks read before a failing read are written first, as a block-by-block copy would
        // have; a short last block at the end of the input is written as far as it was read,
        // never padded with bytes of the block before it.
        const size_t keep = got.error ? got.bytes - got.bytes % BLOCK_SIZE : got.bytes;
        size_t written = 0;
        int error = 0;
        if (!writeFully(out, buffer.data(), keep, &written, &error)) {
            const quint64 failed = i + written / BLOCK_SIZE;
            blocksCopied = failed;
            WriteLogMessage(QStringLiteral("%1 blocks Written").arg(failed));
            reportFailure("write", failed, error);
            return false;
        }
        if (got.error) {
            blocksCopied = i + keep / BLOCK_SIZE;
            reportFailure("read", blocksCopied, got.error);
            return false;
        }

        const quint64 done = i + (keep + BLOCK_SIZE - 1) / BLOCK_SIZE;
        if (done == end + 1) {
            const qint64 p = qint64(end * 100 / count);
            if (p != last) {
                WriteStatusMessage(QStringLiteral(" %1 percent completed").arg(p));
                last = p;
            }
        }
        i = done;
        blocksCopied = i;
        if (got.bytes < want)
            break;   // the input is at its end
    }

    // Nothing is complete before the data is on the drive.
    if (const int error = flushToDevice(out)) {
        WriteLogMessage(QStringLiteral("%1 blocks Written").arg(i));
        reportFailure("write", i, error);
        return false;
    }

    msleep(50);
    if (last != 100 && i == count)
        WriteStatusMessage(QStringLiteral(" %1 percent completed").arg(100));
    msleep(50);
    WriteLogMessage(QStringLiteral("BlockCopy done, %1 blocks Written").arg(i));
    return true;
}

void BlockCopy::WriteToLog(const QString &text, const QString &path, bool truncate)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | (truncate ? QIODevice::Truncate : QIODevice::Append)))
        return;
    QByteArray bytes = text.toLocal8Bit();
    if (!bytes.endsWith('\n'))
        bytes.append('\n');
    f.write(bytes);
    f.flush();
    f.close();
}

void BlockCopy::WriteLogMessage(const QString &text)
{
    WriteToLog(QStringLiteral("[%1] ").arg(QDateTime::currentDateTime().toString(TIME_DATE_FORMAT)) + text,
               logFile, false);
}

void BlockCopy::WriteStatusMessage(const QString &text)
{
    WriteToLog(text, statusFile, true);
    const qint64 sent = socket->writeDatagram(text.toLatin1(), QHostAddress(QHostAddress::LocalHost), port);
    WriteToLog(QStringLiteral("Sent %1 %2 byte(s)").arg(text, QString::number(sent)), sendLog, false);
}

void BlockCopy::msleep(unsigned long ms)
{
    QThread::msleep(ms);
}
