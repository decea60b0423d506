#include "blockcopy.h"
#include "systemutils.h"

#include <QElapsedTimer>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// One open file, closed when it goes out of scope.
struct FileHandle {
    int fd = -1;
    FileHandle() = default;
    FileHandle(const FileHandle &) = delete;
    FileHandle &operator=(const FileHandle &) = delete;
    ~FileHandle() { close(); }
    bool openRead(const QString &path)
    {
        fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        return fd >= 0;
    }
    // A file is truncated; a device is written in place.
    bool openWrite(const QString &path)
    {
        // Nothing is ever created under /dev: a missing drive node is a failure, not a RAM file.
        const int create = path.startsWith(QLatin1String("/dev/")) ? 0 : O_CREAT;
        fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | create | O_CLOEXEC, 0644);
        if (fd < 0)
            return false;
        struct stat st;
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
            regular = true;
            if (::ftruncate(fd, 0) != 0) {
                close();
                return false;
            }
        }
        return true;
    }
    void close()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    bool regular = false;
};

QString systemError(int error)
{
    return QString::fromLocal8Bit(strerror(error));
}

bool allZero(const char *data, size_t size)
{
    for (size_t i = 0; i < size; ++i) {
        if (data[i] != 0)
            return false;
    }
    return true;
}

} // namespace

// Moves bytes from one descriptor to another in whole 512-byte blocks (the last one may be
// shorter when the count is not a multiple), reporting every whole percent of the run's total
// once. Zero stretches of a regular destination file become holes: the file reads back the
// same, and an image of a mostly empty drive costs only its data.
class BlockMover
{
public:
    enum Outcome { Done, SourceEnded, ReadError, WriteError, Aborted };

    BlockMover(BlockCopy *owner, quint64 total, const QString &format)
        : m_owner(owner), m_total(total), m_format(format), m_buffer(1 << 20) {}

    quint64 done() const { return m_done; }
    int error() const { return m_errno; }

    Outcome move(int in, const FileHandle &out, quint64 count)
    {
        quint64 left = count;
        while (left > 0) {
            if (abortRequested())
                return Aborted;
            const size_t want = size_t(std::min<quint64>(left, m_buffer.size()));
            size_t got = 0;
            while (got < want) {
                const ssize_t n = ::read(in, m_buffer.data() + got, want - got);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n < 0) {
                    m_errno = errno;
                    return ReadError;
                }
                if (n == 0)
                    break;
                got += size_t(n);
            }
            if (got == 0)
                return SourceEnded;
            if (!store(out, got))
                return WriteError;
            left -= got;
            advance(got);
            if (got < want)
                return left > 0 ? SourceEnded : Done;
        }
        return Done;
    }

    // Ends a destination: holes at its end still count, and the data must have reached the
    // device before the run may call itself successful.
    bool finish(const FileHandle &out)
    {
        if (out.regular) {
            const off_t end = ::lseek(out.fd, 0, SEEK_CUR);
            if (end < 0 || ::ftruncate(out.fd, end) != 0) {
                m_errno = errno;
                return false;
            }
        }
        if (::fsync(out.fd) != 0 && errno != EINVAL && errno != EROFS) {
            m_errno = errno;
            return false;
        }
        return true;
    }

private:
    bool store(const FileHandle &out, size_t size)
    {
        if (!out.regular)
            return writeAll(out.fd, m_buffer.data(), size);
        // Holes are made in 64 KiB steps, so scattered data does not drag whole megabytes along.
        const size_t step = 65536;
        for (size_t at = 0; at < size; at += step) {
            const size_t n = std::min(step, size - at);
            const char *data = m_buffer.data() + at;
            const bool ok = allZero(data, n) ? ::lseek(out.fd, off_t(n), SEEK_CUR) >= 0 : writeAll(out.fd, data, n);
            if (!ok)
                return false;
        }
        return true;
    }

    bool writeAll(int fd, const char *data, size_t size)
    {
        size_t written = 0;
        while (written < size) {
            const ssize_t n = ::write(fd, data + written, size - written);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                m_errno = n < 0 ? errno : ENOSPC;
                return false;
            }
            written += size_t(n);
        }
        return true;
    }

    // The operator stops a copy of a whole drive by creating the abort file: looked at once a
    // second, so a stop takes effect at once without a file lookup per megabyte.
    bool abortRequested()
    {
        if (m_abortCheck.isValid() && m_abortCheck.elapsed() < 1000)
            return false;
        m_abortCheck.start();
        return QFile::exists(SystemUtils::ABORT_FILE);
    }

    // One line per whole percent at most, whatever the byte count (also under 51200 bytes).
    void advance(quint64 bytes)
    {
        m_done += bytes;
        if (m_total == 0)
            return;
        // Every percent passed gets its line, also when one read covers several.
        const int percent = int(std::min<quint64>(100, m_done * 100 / m_total));
        while (m_lastPercent < percent)
            emit m_owner->StatusReady(m_format.arg(++m_lastPercent));
    }

    BlockCopy *m_owner;
    quint64 m_total;
    QString m_format;
    std::vector<char> m_buffer;
    quint64 m_done = 0;
    int m_lastPercent = 0;
    int m_errno = 0;
    QElapsedTimer m_abortCheck;
};

BlockCopy::BlockCopy(QObject *parent)
    : QThread(parent)
{
}

BlockCopy::BlockCopy(const QStringList &sources, const QString &destination, quint64 byteCount, QObject *parent)
    : QThread(parent), source(sources.value(0)), destination(destination), byteCount(byteCount), sources(sources)
{
}

BlockCopy::BlockCopy(const QString &source, const QString &destination, quint64 byteCount, QObject *parent)
    : QThread(parent), source(source), destination(destination), byteCount(byteCount), sources{source}
{
}

void BlockCopy::SetParams(const QString &source, const QString &destination, quint64 byteCount)
{
    this->source = source;
    this->destination = destination;
    this->byteCount = byteCount;
    sources = QStringList{source};
}

void BlockCopy::SetParams(const QStringList &sources, const QString &destination, quint64 byteCount,
                          const QString &source)
{
    this->sources = sources;
    this->destination = destination;
    this->byteCount = byteCount;
    this->source = source;
}

void BlockCopy::run()
{
    if (destination.isEmpty()) {
        // Nothing ran; a status left from an earlier run must not pass for this one's.
        lastRunStatus = CannotCreate;
        emit StatusReady(QStringLiteral("ERROR: No destination specified"));
        return;
    }
    lastRunStatus = Success;
    int result;
    if (byteCount == 0) {
        // An empty copy is no image: say so rather than report an empty success.
        emit StatusReady(QStringLiteral("ERROR No data to copy from %1 (byte count 0)").arg(source));
        result = SourceShort;
    } else if (sources.size() > 1 && !source.startsWith(QLatin1String("/dev"))) {
        // A list of pieces is always copied whole, also when it adds up to 1 GiB or less.
        result = ListToDriveCopy();
    } else if (byteCount <= pieceSize) {
        result = SingleCopy();
    } else if (source.startsWith(QLatin1String("/dev"))) {
        result = DriveToPiecesCopy();
    } else {
        result = SingleCopy();
    }
    lastRunStatus = result;
    emit RunFinished();
}

// Turns a mover's outcome into the run's result and its message.
static int reportOutcome(BlockCopy *copy, BlockMover::Outcome outcome, const BlockMover &mover, const QString &from,
                         quint64 expectedEnd, const QString &overrunText)
{
    switch (outcome) {
    case BlockMover::Done:
        return BlockCopy::Success;
    case BlockMover::SourceEnded:
        emit copy->StatusReady(QStringLiteral("ERROR %1 ended after %2 of %3 bytes")
                                   .arg(from).arg(mover.done()).arg(expectedEnd));
        return BlockCopy::SourceShort;
    case BlockMover::ReadError:
        emit copy->StatusReady(QStringLiteral("ERROR Could not read %1 after %2 bytes (%3)")
                                   .arg(from).arg(mover.done()).arg(systemError(mover.error())));
        return BlockCopy::SourceFailed;
    case BlockMover::WriteError:
        emit copy->StatusReady(overrunText);
        return BlockCopy::Overrun;
    case BlockMover::Aborted:
        emit copy->StatusReady(QStringLiteral("ERROR Abort Requested after %1 of %2 bytes").arg(mover.done()).arg(expectedEnd));
        return BlockCopy::Aborted;
    }
    return BlockCopy::Overrun;
}

// Moves size bytes from fd into out and closes out, reporting the first thing that goes wrong.
static int moveAndFinish(BlockCopy *copy, BlockMover &mover, int fd, FileHandle &out, quint64 size,
                         const QString &from, quint64 expectedEnd, const QString &overrunText)
{
    const int result = reportOutcome(copy, mover.move(fd, out, size), mover, from, expectedEnd, overrunText);
    if (result != BlockCopy::Success)
        return result;
    if (!mover.finish(out)) {
        emit copy->StatusReady(overrunText);
        return BlockCopy::Overrun;
    }
    return BlockCopy::Success;
}

int BlockCopy::SingleCopy()
{
    FileHandle in;
    FileHandle out;
    if (!in.openRead(source)) {
        emit StatusReady(QStringLiteral("ERROR Could not open source %1 (%2)").arg(source, systemError(errno)));
        return SourceFailed;
    }
    if (!out.openWrite(destination)) {
        emit StatusReady(QStringLiteral("ERROR Could not open destination %1 (%2)").arg(destination, systemError(errno)));
        return CannotCreate;
    }
    BlockMover mover(this, byteCount, QStringLiteral("%1.00 percent complete"));
    return moveAndFinish(this, mover, in.fd, out, byteCount, source, byteCount,
                         QStringLiteral("ERROR DESTINATION OVERRUN"));
}

int BlockCopy::DriveToPiecesCopy()
{
    FileHandle in;
    if (!in.openRead(source)) {
        emit StatusReady(QStringLiteral("ERROR Could not open source %1 (%2)").arg(source, systemError(errno)));
        return SourceFailed;
    }
    emit StatusReady(QStringLiteral("0 percent complete"));
    BlockMover mover(this, byteCount, QStringLiteral("%1 percent complete"));
    for (int i = 0; mover.done() < byteCount; ++i) {
        const QString name = destination + QLatin1Char('.') + QStringLiteral("%1").arg(i, 3, 10, QLatin1Char('0'));
        FileHandle piece;
        if (!piece.openWrite(name)) {
            emit StatusReady(QStringLiteral("ERROR Could not create ") + name);
            return CannotCreate;
        }
        const quint64 size = std::min<quint64>(pieceSize, byteCount - mover.done());
        const int result = moveAndFinish(this, mover, in.fd, piece, size, source, byteCount,
                                         QStringLiteral("ERROR DESTINATION OVER-RUN"));
        if (result != Success)
            return result;
    }
    return Success;
}

int BlockCopy::ListToDriveCopy()
{
    FileHandle out;
    if (!out.openWrite(destination)) {
        emit StatusReady(QStringLiteral("ERROR Could not open destination %1 (%2)").arg(destination, systemError(errno)));
        return CannotCreate;
    }
    emit StatusReady(QStringLiteral("0 percent complete"));
    BlockMover mover(this, byteCount, QStringLiteral("%1 percent complete"));
    for (const QString &piece : qAsConst(sources)) {
        source = piece;
        const quint64 size = quint64(QFileInfo(piece).size());
        FileHandle in;
        // A piece left out would shift every later byte on the drive: that is a failure.
        if (!in.openRead(piece)) {
            emit StatusReady(QStringLiteral("ERROR Could not open source %1 (%2)").arg(piece, systemError(errno)));
            return SourceFailed;
        }
        if (size == 0)
            continue;
        const quint64 expectedEnd = mover.done() + size;
        // After an overrun every later piece would land in the wrong place: stop there.
        const int result = reportOutcome(this, mover.move(in.fd, out, size), mover, piece, expectedEnd,
                                         QStringLiteral("ERROR DESTINATION OVERRUN"));
        if (result != Success)
            return result;
    }
    if (!mover.finish(out)) {
        emit StatusReady(QStringLiteral("ERROR DESTINATION OVERRUN"));
        return Overrun;
    }
    return Success;
}
