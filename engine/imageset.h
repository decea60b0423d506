#pragma once
// The files of one image set: every member shares the stem N (the image path with its
// extension): N, N.gptb, N.orig(.gptb), N.pK, N.pK.NNN, N.NNN, N.txt, N.sums. Pieces are numbered
// with three digits up to 999 and go on with N.1000, N.1001 ...
// This is the one place that knows the member names: the delete command, the checksum list and
// its verification, and the restores' piece lookups all ask it.

#include <QString>
#include <QStringList>

class SystemUtils;

class ImageSet
{
public:
    explicit ImageSet(const QString &imagePath);

    QString directory() const { return m_dir; }   // absolute
    QString stem() const { return m_stem; }       // file name of N
    QString path() const { return m_dir + '/' + m_stem; }
    QString sumsPath() const { return path() + QStringLiteral(".sums"); }

    // True when fileName (without directory) is a member of this set and of no other: the stem
    // is compared literally, so wildcard characters in it match nothing but themselves.
    bool isMember(const QString &fileName) const;
    // The members present in the directory, regular files only, sorted by name.
    QStringList existingMembers() const;

    // --- pieces (full paths, in the order of their numbers)
    // N.pK.000, N.pK.001, ...: the pieces of partition K's split image.
    QStringList partitionPieces(int k) const;
    // N.pK and its pieces: every file an image of partition K consists of.
    QStringList partitionImageFiles(int k) const;
    // N.000, N.001, ...: the raw pieces of a binary set or the tar pieces of a Linux set.
    QStringList numberedPieces() const;
    // A binary set chosen through its first piece (x.bin.000) is the set x.bin.
    static QString binaryStem(const QString &chosenName);

    // --- checksum list
    // The members the list covers, in name order: N, N.gptb, N.pK, N.pK.NNN and N.NNN.
    QStringList checksumMembers() const;
    static QString checksumLine(const QString &digest, const QString &fileName);
    // One line of N.sums read back: false for anything that is not a digest and a name.
    static bool parseChecksumLine(const QString &line, QString *digest, QString *fileName);
    // Deletes and rewrites N.sums, reporting progress through utils (status file, debug log,
    // console). False when the list could not be written.
    bool writeChecksumList(SystemUtils &utils) const;
    // Compares every member the list names with its recorded digest, reporting through utils.
    // Returns 0, or 1018 when any member differs or cannot be read, or STOPPED when the abort
    // file appeared. ran (optional) tells whether a list was there to check at all.
    int verifyChecksumList(SystemUtils &utils, bool *ran = nullptr) const;
    static constexpr int STOPPED = 1000;   // the error table's "User Abort Requested"

private:
    QStringList matching(const QString &suffixPattern) const;
    // The number of a piece name (x.007 is 7, x.1000 is 1000), -1 for a name that is no piece.
    static int pieceNumber(const QString &fileName);
    // Name order, except that the pieces of one file follow it in the order of their numbers.
    static bool pieceOrder(const QString &a, const QString &b);

    QString m_dir;
    QString m_stem;
};
