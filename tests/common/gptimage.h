#pragma once
// Saved GPTs made by hand for the table readers' tests: sgdisk's backup form (protective MBR, main
// header, backup header, entry array) or a drive's first sectors (MBR, header, the array where
// the header says), with any entry count, entry size and array place, and both checksums made
// by zlib's crc32, not by the reader under test. A test that wants a damaged table changes bytes
// afterwards (or asks for a wrong checksum).

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtEndian>

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace GptImage {

struct Part {
    QString type;            // "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7"
    quint64 start = 0;
    quint64 end = 0;
    QString name;
    quint64 attributes = 0;
    QString unique;          // empty: made from the slot
    int slot = -1;           // place in the array from 0; -1: the one after the previous part
};

struct Layout {
    bool sgdisk = true;      // sgdisk -b's file; false: a drive's first sectors
    quint64 firstUsable = 34;
    quint64 lastUsable = 131038;
    quint32 count = 128;
    quint32 entrySize = 128;
    quint64 entriesLba = 2;  // the drive form only
    int size = -1;           // the file's size; -1: just what the form holds
    bool badHeaderCrc = false;
    bool badArrayCrc = false;
};

// The 16 bytes of a GUID written as text: the first three groups little-endian.
inline QByteArray guidBytes(const QString &text)
{
    QByteArray raw = QByteArray::fromHex(text.toLatin1().replace('-', ""));
    std::reverse(raw.begin(), raw.begin() + 4);
    std::reverse(raw.begin() + 4, raw.begin() + 6);
    std::reverse(raw.begin() + 6, raw.begin() + 8);
    return raw;
}

inline quint32 crc(const QByteArray &bytes, int from, int length)
{
    return quint32(crc32(0L, reinterpret_cast<const Bytef *>(bytes.constData() + from), uInt(length)));
}

inline void writeHeader(QByteArray &b, int at, const Layout &l, quint32 arrayCrc)
{
    memcpy(b.data() + at, "EFI PART", 8);
    qToLittleEndian<quint32>(0x00010000, b.data() + at + 8);
    qToLittleEndian<quint32>(92, b.data() + at + 12);
    qToLittleEndian<quint64>(l.firstUsable, b.data() + at + 40);
    qToLittleEndian<quint64>(l.lastUsable, b.data() + at + 48);
    qToLittleEndian<quint64>(l.entriesLba, b.data() + at + 72);
    qToLittleEndian<quint32>(l.count, b.data() + at + 80);
    qToLittleEndian<quint32>(l.entrySize, b.data() + at + 84);
    qToLittleEndian<quint32>(arrayCrc + (l.badArrayCrc ? 1 : 0), b.data() + at + 88);
    qToLittleEndian<quint32>(0, b.data() + at + 16);
    qToLittleEndian<quint32>(crc(b, at, 92) + (l.badHeaderCrc ? 1 : 0), b.data() + at + 16);
}

inline QByteArray make(const Layout &l, const QList<Part> &parts)
{
    const qint64 arrayBytes = qint64(l.count) * l.entrySize;
    const qint64 arrayAt = l.sgdisk ? 1536 : qint64(l.entriesLba) * 512;
    // The array as the header describes it, cut to 16 MiB for headers that claim absurd sizes.
    QByteArray array(int(std::min<qint64>(arrayBytes, 16 << 20)), '\0');
    int slot = 0;
    for (const Part &p : parts) {
        slot = p.slot >= 0 ? p.slot : slot;
        const qint64 at = qint64(slot) * std::max<quint32>(l.entrySize, 128);
        ++slot;
        if (at + 128 > array.size())
            continue;
        char *e = array.data() + at;
        memcpy(e, guidBytes(p.type).constData(), 16);
        const QString unique = p.unique.isEmpty() ? QStringLiteral("11111111-2222-3333-4444-%1").arg(slot, 12, 10, QLatin1Char('0')) : p.unique;
        memcpy(e + 16, guidBytes(unique).constData(), 16);
        qToLittleEndian<quint64>(p.start, e + 32);
        qToLittleEndian<quint64>(p.end, e + 40);
        qToLittleEndian<quint64>(p.attributes, e + 48);
        for (int i = 0; i < p.name.size() && i < 36; ++i)
            qToLittleEndian<quint16>(p.name.at(i).unicode(), e + 56 + 2 * i);
    }
    const quint32 arrayCrc = crc(array, 0, array.size());

    const qint64 natural = arrayAt + array.size();
    QByteArray b(int(l.size >= 0 ? l.size : natural), '\0');
    if (b.size() >= 512) {
        b[450] = char(0xEE);   // the protective MBR's one partition
        b[510] = char(0x55);
        b[511] = char(0xAA);
    }
    const Layout main = l;
    if (b.size() >= 1024)
        writeHeader(b, 512, main, arrayCrc);
    if (l.sgdisk && b.size() >= 1536) {
        Layout backup = l;
        backup.entriesLba = l.lastUsable + 1;   // the backup array lies at the drive's end
        writeHeader(b, 1024, backup, arrayCrc);
    }
    if (arrayAt < b.size())
        memcpy(b.data() + arrayAt, array.constData(), size_t(std::min<qint64>(array.size(), b.size() - arrayAt)));
    return b;
}

} // namespace GptImage
