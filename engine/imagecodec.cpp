#include "imagecodec.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace {
const QByteArray GZIP_MAGIC("\x1f\x8b", 2);
const QByteArray ZSTD_MAGIC("\x28\xb5\x2f\xfd", 4);
// zstd's level 3 keeps up with a drive on a dual-core unit and makes sets slightly smaller than
// gzip's default; higher levels cost far more time than they save space.
const QString ZSTD_LEVEL = QStringLiteral("-3");
}

ImageCodec ImageCodec::Requested()
{
    const QString word = RequestedWord().toLower();
    if (word.isEmpty() || word == QLatin1String("gzip"))
        return ImageCodec(Gzip);
    if (word == QLatin1String("zstd"))
        return ImageCodec(Zstd);
    return ImageCodec(Unknown);
}

QString ImageCodec::RequestedWord()
{
    return qEnvironmentVariable("IMAGE_CODEC").trimmed();
}

ImageCodec ImageCodec::OfFile(const QString &path, QByteArray *head)
{
    QFile f(path);
    const QByteArray bytes = f.open(QIODevice::ReadOnly) ? f.read(ZSTD_MAGIC.size()) : QByteArray();
    if (head)
        *head = bytes;
    if (bytes.startsWith(ZSTD_MAGIC))
        return ImageCodec(Zstd);
    if (bytes.startsWith(GZIP_MAGIC))
        return ImageCodec(Gzip);
    return ImageCodec(Unknown);
}

QString ImageCodec::Unreadable(const QStringList &files)
{
    if (files.isEmpty())
        return QStringLiteral("no image file was given");
    const QString first = files.first();
    const QString shown = QFileInfo(first).fileName();
    if (!QFileInfo(first).isFile())
        return QStringLiteral("Image file %1 not found").arg(shown);
    QByteArray head;
    const ImageCodec codec = OfFile(first, &head);
    if (!codec.isKnown()) {
        const QString begins = head.isEmpty() ? QStringLiteral("it is empty or cannot be read")
                                              : QStringLiteral("it begins with %1").arg(QString::fromLatin1(head.toHex(' ')));
        return QStringLiteral("Image file %1 is neither a gzip nor a zstd stream (%2)").arg(shown, begins);
    }
    if (!codec.isInstalled())
        return QStringLiteral("Image file %1 is a %2 stream, and %3 is not installed").arg(shown, codec.name(), codec.program());
    return QString();
}

QString ImageCodec::name() const
{
    switch (m_kind) {
    case Gzip:
        return QStringLiteral("gzip");
    case Zstd:
        return QStringLiteral("zstd");
    case Unknown:
        break;
    }
    return QStringLiteral("unknown");
}

QString ImageCodec::program() const
{
    if (m_kind == Zstd)
        return QStringLiteral("zstd");
    // Looked up on every pipeline: the answer follows PATH as the script's shell will see it.
    static const QString parallel = QStringLiteral("pigz");
    return QStandardPaths::findExecutable(parallel).isEmpty() ? QStringLiteral("gzip") : parallel;
}

bool ImageCodec::isInstalled() const
{
    return isKnown() && !QStandardPaths::findExecutable(program()).isEmpty();
}

myProcess ImageCodec::CompressStage(const QStringList &extra) const
{
    if (m_kind == Zstd)
        return myProcess{program(), QStringList{QStringLiteral("-q"), QStringLiteral("-T0"), ZSTD_LEVEL, QStringLiteral("-c")} + extra};
    return myProcess{program(), QStringList{QStringLiteral("-c")} + extra};
}

myProcess ImageCodec::DecompressStage(const QString &input) const
{
    if (m_kind == Zstd)
        return myProcess{program(), {QStringLiteral("-q"), QStringLiteral("-dc"), input}};
    const QString gzip = program();
    if (gzip == QLatin1String("gzip"))
        return myProcess{QStringLiteral("gunzip"), {QStringLiteral("-c"), input}};
    return myProcess{gzip, {QStringLiteral("-dc"), input}};
}
