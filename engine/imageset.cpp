#include "imageset.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

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
    // gzip stream, and their logs), the raw or tar pieces, the listing and the checksum list.
    static const QRegularExpression suffix(QStringLiteral(
        "^(|\\.gptb|\\.orig|\\.orig\\.gptb|\\.p[0-9]+(\\.[0-9]{3})?(\\.log)?|\\.[0-9]{3}|\\.txt|\\.sums)$"));
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
