#pragma once
// The compression of a compressed set's partition images. gzip is what every set made so far
// holds and what a backup writes unless IMAGE_CODEC=zstd asks for zstd, which compresses and,
// above all, decompresses several times faster. A restore never goes by the setting or by a
// member's name: it reads each image with the codec its first bytes name, so that both kinds of
// set restore alike, and it refuses a member of neither kind before the drive is written.

#include "systemutils.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

class ImageCodec
{
public:
    enum Kind { Unknown, Gzip, Zstd };

    explicit ImageCodec(Kind kind = Gzip) : m_kind(kind) {}

    // The codec IMAGE_CODEC asks a backup for: gzip when unset or empty, gzip or zstd by name
    // (case and blanks aside), Unknown for any other word.
    static ImageCodec Requested();
    static QString RequestedWord();
    // The codec of an image by the first bytes of its file (the whole image, or its first
    // piece): gzip 1f 8b, zstd 28 b5 2f fd. Unknown for anything else, an empty file or one that
    // cannot be read; head, when given, receives the bytes looked at.
    static ImageCodec OfFile(const QString &path, QByteArray *head = nullptr);

    // Why the image made of files (the whole image, or its pieces in order) cannot be read: it is
    // missing, of neither kind, or its program is not installed. Empty when it can be.
    static QString Unreadable(const QStringList &files);

    Kind kind() const { return m_kind; }
    bool isKnown() const { return m_kind != Unknown; }
    QString name() const;
    // The program the stages run: zstd; pigz (the same gzip stream on every core) where it is on
    // PATH, gzip otherwise.
    QString program() const;
    // The program is on PATH, as the pipeline's shell will look it up.
    bool isInstalled() const;

    // The stage that compresses standard input to standard output; extra arguments follow (a
    // redirection into the image, for instance). zstd runs on every core at a fast level.
    myProcess CompressStage(const QStringList &extra = QStringList()) const;
    // The stage that decompresses input (a quoted file name, or "-" for standard input) to
    // standard output.
    myProcess DecompressStage(const QString &input) const;

private:
    Kind m_kind;
};
