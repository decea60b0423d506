// gptinspect against table backups made by the real sgdisk (the example drive, a drive beyond
// 2^32 sectors, a drive read in place) and against hand-made files for the edge cases: no
// argument, unreadable and short files, N = 0, an empty third entry, all N entries used, and
// headers that do not add up (2^32-1 entries claimed, a damaged array).
#include "gptimage.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Run {
    int code = -1;
    QByteArray out;
    QByteArray err;
};

Run gptinspect(const QStringList &args)
{
    QProcess p;
    p.start(qEnvironmentVariable("BRENLOW_BIN") + "/gptinspect", args);
    Run r;
    if (!p.waitForStarted(30000) || !p.waitForFinished(60000))
        return r;
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

bool sh(const QString &command)
{
    QProcess p;
    p.start("bash", {"-c", command});
    return p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// An sgdisk-shaped backup file with sound checksums: last usable LBA, N, and entries from 1536
// (an entry of start 0 is left empty). size -1: just what the file holds.
QByteArray backupFile(int size, quint64 lastUsable, quint32 count, const QList<QPair<quint64, quint64>> &entries)
{
    GptImage::Layout layout;
    layout.lastUsable = lastUsable;
    layout.count = count;
    layout.size = size;
    QList<GptImage::Part> parts;
    for (int i = 0; i < entries.size(); ++i) {
        if (entries.at(i).first != 0)
            parts << GptImage::Part{"0FC63DAF-8483-4772-8E79-3D69D8477DE4", entries.at(i).first, entries.at(i).second, {}, 0, {}, i};
    }
    return GptImage::make(layout, parts);
}

const QByteArray HEAD = "Drive/DOM/ Partition Sector Information:\nNumber Start End\n";

} // namespace

class TstGptInspect : public QObject
{
    Q_OBJECT
    QTemporaryDir dir;

    QString write(const QString &name, const QByteArray &content)
    {
        QFile f(dir.filePath(name));
        f.open(QIODevice::WriteOnly);
        f.write(content);
        return f.fileName();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        QVERIFY2(QFile::exists(qEnvironmentVariable("BRENLOW_BIN") + "/gptinspect"), "gptinspect is not built");
    }

    void exampleDriveFromSgdisk()
    {
        // 62,914,560 sectors, partitions 2048-206847 and 206848 to the last usable sector
        const QString img = dir.filePath("example.img"), gptb = dir.filePath("example.gptb");
        QVERIFY(sh(QString("truncate -s %1 '%2' && sgdisk -o -n 1:2048:206847 -n 2:206848:0 '%2' >/dev/null && "
                           "sgdisk -b '%3' '%2' >/dev/null && rm '%2'").arg(62914560LL * 512).arg(img, gptb)));
        const Run r = gptinspect({gptb});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, HEAD + "1 2048 206847\n2 206848 62914526\n"
                               "62914560 Size of disk in sectors\n62914526 Last usable sector\n62914526 Last used sector\n");
        QVERIFY(r.err.isEmpty());
        QCOMPARE(gptinspect({gptb, "ignored", "too"}).out, r.out);   // later arguments are ignored
    }

    void driveBeyond32BitSectors()
    {
        const QString img = dir.filePath("huge.img"), gptb = dir.filePath("huge.gptb");
        QVERIFY(sh(QString("truncate -s 3T '%1' && sgdisk -o -n 1:2048:+1G -n 2:0:0 '%1' >/dev/null && "
                           "sgdisk -b '%2' '%1' >/dev/null && rm '%1'").arg(img, gptb)));
        const qint64 sectors = 3LL * 1024 * 1024 * 1024 * 1024 / 512;   // 6442450944
        const Run r = gptinspect({gptb});
        QCOMPARE(r.out, HEAD + QString("1 2048 2099199\n2 2099200 %1\n%2 Size of disk in sectors\n%1 Last usable sector\n"
                                       "%1 Last used sector\n").arg(sectors - 34).arg(sectors).toLatin1());
    }

    void commandLineAndShortFiles()
    {
        Run r = gptinspect({});
        QCOMPARE(r.code, 1);
        QVERIFY(r.out.isEmpty());
        QVERIFY2(r.err.contains("Please provide file name to examine"), r.err);

        r = gptinspect({dir.filePath("missing.gptb")});
        QCOMPARE(r.code, 0);
        QVERIFY(r.out.isEmpty() && r.err.isEmpty());

        const QString exact = write("exact", backupFile(1536, 1000, 128, {{2048, 4095}}));
        r = gptinspect({exact});
        QCOMPARE(r.code, 0);
        QVERIFY(r.out.isEmpty());
        QCOMPARE(r.err.trimmed(), QByteArray("\"" + exact.toLatin1() + "\" does not appear to be a gpt backup file"));

        // One byte more is read, and the header then says where its array is: not in this file.
        r = gptinspect({write("onemore", backupFile(1537, 1000, 128, {{2048, 4095}}))});
        QCOMPARE(r.code, 0);
        QVERIFY(r.out.isEmpty());
        QVERIFY2(r.err.contains("does not appear to be a gpt backup file: the entry array (128 entries of 128 bytes at byte 1536) lies outside"), r.err);
    }

    void headersThatDoNotAddUp()
    {
        // A header claiming 2^32-1 entries, a damaged array: named, nothing listed.
        Run r = gptinspect({write("claims", backupFile(1536 + 3 * 128 + 100, 40000, 0xFFFFFFFFu, {{2048, 4095}}))});
        QVERIFY(r.out.isEmpty());
        QVERIFY2(r.err.contains("claims 4294967295 entries"), r.err);
        QByteArray damaged = backupFile(-1, 40000, 128, {{2048, 4095}});
        damaged[1536 + 32] = 1;
        r = gptinspect({write("damaged", damaged)});
        QVERIFY(r.out.isEmpty());
        QVERIFY2(r.err.contains("checksum of the GPT entry array does not match"), r.err);
    }

    void readsADriveWithoutReadingItWhole()
    {
        // A 3 TiB sparse image read as a drive: the table is at its start, with 32 entries and
        // entry 2 deleted; reading the whole file would take minutes and all memory.
        const QString img = dir.filePath("drive.img");
        QVERIFY(sh(QString("truncate -s 3T '%1' && sgdisk -o -S 32 -n 1:2048:+1M -n 2:0:+1M -n 3:0:+1M '%1' >/dev/null && "
                           "sgdisk -d 2 '%1' >/dev/null").arg(img)));
        QElapsedTimer clock;
        clock.start();
        const Run r = gptinspect({img});
        QVERIFY(clock.elapsed() < 20000);
        const qint64 sectors = 3LL * 1024 * 1024 * 1024 * 1024 / 512;
        QCOMPARE(r.out, HEAD + QString("1 2048 4095\n3 6144 8191\n%1 Size of disk in sectors\n%2 Last usable sector\n"
                                       "8191 Last used sector\n").arg(sectors).arg(sectors - 10).toLatin1());   // 32 entries: 8 sectors and the header behind the last usable one
        QFile::remove(img);
    }

    void entryWalk_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<QByteArray>("lastUsed");
        const QList<QPair<quint64, quint64>> four = {{2048, 4095}, {4096, 8191}, {8192, 9000}, {10240, 20000}};
        QTest::newRow("N = 0") << backupFile(17920, 40000, 0, four) << QByteArray() << QByteArray("0");
        // an empty entry (a deleted partition) is a gap: the entries after it are listed
        QTest::newRow("third entry empty")
            << backupFile(17920, 40000, 128, {{2048, 4095}, {4096, 8191}, {0, 0}, {10240, 20000}})
            << QByteArray("1 2048 4095\n2 4096 8191\n4 10240 20000\n") << QByteArray("20000");
        QTest::newRow("all N entries in use, no more read")
            << backupFile(-1, 40000, 3, four) << QByteArray("1 2048 4095\n2 4096 8191\n3 8192 9000\n") << QByteArray("9000");
        QTest::newRow("exactly N entries fill the file")
            << backupFile(1536 + 4 * 128, 40000, 4, four)
            << QByteArray("1 2048 4095\n2 4096 8191\n3 8192 9000\n4 10240 20000\n") << QByteArray("20000");
    }
    void entryWalk()
    {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, lines);
        QFETCH(QByteArray, lastUsed);
        const Run r = gptinspect({write(QTest::currentDataTag(), file)});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, HEAD + lines + "40034 Size of disk in sectors\n40000 Last usable sector\n" + lastUsed + " Last used sector\n");
    }
};

QTEST_GUILESS_MAIN(TstGptInspect)
#include "tst_gptinspect.moc"
