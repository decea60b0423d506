#include "imageset.h"
#include "systemutils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

// A piece number: three digits up to 999, then as many as it takes (1000, never 0001).
#define PIECE "(?:[0-9]{3}|[1-9][0-9]{3,})"

ImageSet::ImageSet(const QString &imagePath)
{
    const QFileInfo info(imagePath);
    m_dir = info.absolutePath();
    m_stem = info.fileName();
}

bool ImageSet::isMember(const QString &fileName) const
{
    if (m_stem.isEmpty() || !fileName.startsWith(m_stem))
        return false;
    const QString rest = fileName.mid(m_stem.size());
    // Suffixes a backup writes: the table copies, the partition images (whole, or pieces of one
    // gzip or zstd stream, and their logs), the raw or tar pieces, the listing and the checksum list.
    static const QRegularExpression suffix(QStringLiteral(
        "^(|\\.gptb|\\.orig|\\.orig\\.gptb|\\.p[0-9]+(\\." PIECE ")?(\\.log)?|\\." PIECE "|\\.txt|\\.sums)$"));
    return suffix.match(rest).hasMatch();
}

QStringList ImageSet::existingMembers() const
{
    QStringList members;
    const QStringList names = QDir(m_dir).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    for (const QString &name : names) {
        if (isMember(name) && QFileInfo(m_dir + '/' + name).isFile())
            members << name;
    }
    return members;
}

// Full paths of the existing members whose suffix after the stem matches the pattern, pieces of
// one file in the order of their numbers (N.999 before N.1000, which name order would swap).
QStringList ImageSet::matching(const QString &suffixPattern) const
{
    const QRegularExpression suffix(QStringLiteral("^(") + suffixPattern + QStringLiteral(")$"));
    QStringList names;
    for (const QString &name : existingMembers()) {
        if (suffix.match(name.mid(m_stem.size())).hasMatch())
            names << name;
    }
    std::stable_sort(names.begin(), names.end(), pieceOrder);
    QStringList paths;
    for (const QString &name : qAsConst(names))
        paths << m_dir + '/' + name;
    return paths;
}

int ImageSet::pieceNumber(const QString &fileName)
{
    static const QRegularExpression piece(QStringLiteral("\\.(" PIECE ")$"));
    const QRegularExpressionMatch m = piece.match(fileName);
    bool ok = false;
    const int number = m.hasMatch() ? m.captured(1).toInt(&ok, 10) : -1;
    return ok ? number : -1;
}

bool ImageSet::pieceOrder(const QString &a, const QString &b)
{
    const int na = pieceNumber(a);
    const int nb = pieceNumber(b);
    const QString fileA = na < 0 ? a : a.left(a.lastIndexOf('.'));
    const QString fileB = nb < 0 ? b : b.left(b.lastIndexOf('.'));
    if (fileA != fileB)
        return a < b;
    return na < nb;   // the whole file (no number) before its pieces
}

QStringList ImageSet::partitionPieces(int k) const
{
    return matching(QStringLiteral("\\.p%1\\." PIECE).arg(k));
}

QStringList ImageSet::partitionImageFiles(int k) const
{
    return matching(QStringLiteral("\\.p%1(\\." PIECE ")?").arg(k));
}

QStringList ImageSet::numberedPieces() const
{
    return matching(QStringLiteral("\\." PIECE));
}

QString ImageSet::binaryStem(const QString &chosenName)
{
    return chosenName.endsWith(QLatin1String(".000")) ? chosenName.left(chosenName.size() - 4) : chosenName;
}

QStringList ImageSet::checksumMembers() const
{
    // Every piece counts, also N.100 and beyond: a set of more than 100 GiB is checked whole.
    // The table listing, the list itself, the pre-shrink tables and logs are not image content.
    QStringList names;
    for (const QString &path : matching(QStringLiteral("|\\.gptb|\\.p[0-9]+(\\." PIECE ")?|\\." PIECE)))
        names << QFileInfo(path).fileName();
    return names;
}

QString ImageSet::checksumLine(const QString &digest, const QString &fileName)
{
    return QStringLiteral("%1 : %2").arg(digest, fileName);
}

bool ImageSet::parseChecksumLine(const QString &line, QString *digest, QString *fileName)
{
    // A digest never holds " : ", so the first one ends it; the name may hold one.
    const int split = line.indexOf(QLatin1String(" : "));
    if (split < 0)
        return false;
    const QString sum = line.left(split);
    const QString name = line.mid(split + 3);
    if (sum.isEmpty() || name.isEmpty())
        return false;
    if (digest)
        *digest = sum;
    if (fileName)
        *fileName = name;
    return true;
}

bool ImageSet::writeChecksumList(SystemUtils &utils) const
{
    utils.ShowMessage(QStringLiteral("Creating checksum list for image files"));
    utils.UpdateTaskInfo(QStringLiteral("Generating integrity files"));
    QFile::remove(sumsPath());

    QStringList lines;
    int i = 0;
    for (const QString &name : checksumMembers()) {
        const QString memberPath = m_dir + '/' + name;
        utils.UpdateStatusInfo(QStringLiteral("Calulating hash %1").arg(++i));
        utils.LogDebug(QStringLiteral("Generating checksum for ") + memberPath);
        const QString digest = utils.GetMd5Sum(memberPath, true);
        // A stopped run leaves no list: half of one would fail every later restore.
        if (utils.abortFileExists())
            return false;
        if (digest.isEmpty()) {
            utils.LogDebug(QStringLiteral("Generating md5 hash failed ") + memberPath);
            continue;
        }
        lines << checksumLine(digest, name);
    }

    QFile f(sumsPath());
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    utils.UpdateStatusInfo(QStringLiteral("Saving Integrity file"));
    const QByteArray text = (lines.join('\n') + '\n').toUtf8();
    const bool written = f.write(text) == text.size() && f.flush();
    f.close();
    if (written)
        utils.ShowMessage(QStringLiteral("Checksum list created"));
    return written;
}

int ImageSet::verifyChecksumList(SystemUtils &utils, bool *ran) const
{
    if (ran)
        *ran = false;
    QFile f(sumsPath());
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    if (ran)
        *ran = true;
    utils.ShowMessage(QStringLiteral("Verifying checksums of image files"));
    const QStringList lines = QString::fromUtf8(f.readAll()).split('\n');
    f.close();
    if (lines.size() > 1)
        utils.UpdateTaskInfo(QStringLiteral("Checking File integrity"));

    int result = 0;
    int n = 0;
    for (const QString &line : lines) {
        utils.UpdateStatusInfo(QStringLiteral("Checking file %1 of %2").arg(++n).arg(lines.size()));
        QString digest;
        QString name;
        if (!parseChecksumLine(line, &digest, &name))
            continue;
        utils.LogDebug(QStringLiteral("Checking checksum of ") + name);
        const QString actual = utils.GetMd5Sum(m_dir + '/' + name, true);
        // Stopped before the drive was touched: no member is blamed.
        if (utils.abortFileExists()) {
            utils.LogDebug(QStringLiteral("Verify stopped by an abort request"));
            return STOPPED;
        }
        // A missing or unreadable member has no digest and so fails.
        if (actual != digest) {
            utils.ShowMessage(QStringLiteral("The checksum for ") + name + QStringLiteral(" does not match"));
            result = 1018;
        }
    }
    utils.LogDebug(QStringLiteral("Verify complete"));
    if (result == 0) {
        utils.ShowMessage(QStringLiteral("Image files verified"), true);
        utils.UpdateStatusInfo(QStringLiteral("Files Verified"));
    }
    return result;
}
