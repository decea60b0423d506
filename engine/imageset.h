#pragma once
// The files of one image set: every member shares the stem N (the image path with its
// extension): N, N.gptb, N.orig(.gptb), N.pK, N.pK.NNN, N.NNN, N.txt, N.sums.

#include <QString>
#include <QStringList>

class ImageSet
{
public:
    explicit ImageSet(const QString &imagePath);

    QString directory() const { return m_dir; }   // absolute
    QString stem() const { return m_stem; }       // file name of N

    // True when fileName (without directory) is a member of this set and of no other: the stem
    // is compared literally, so wildcard characters in it match nothing but themselves.
    bool isMember(const QString &fileName) const;
    // The members present in the directory, regular files only, sorted by name.
    QStringList existingMembers() const;

private:
    QString m_dir;
    QString m_stem;
};
