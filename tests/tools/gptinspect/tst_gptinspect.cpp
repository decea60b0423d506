// gptinspect against table backups made by the real sgdisk (the example drive, a drive beyond
// 2^32 sectors) and against hand-made files for the edge cases: no argument, unreadable and short
// files, N = 0, an empty third entry, all N entries used, and a header claiming 2^32-1 entries.
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

template <typename T> QByteArray le(T value)
{
    QByteArray bytes(int(sizeof(T)), '\0');
    for (int i = 0; i < int(sizeof(T)); ++i)
        bytes[i] = char((quint64(value) >> (8 * i)) & 0xFF);
    return bytes;
}

// A .gptb-shaped file: header at 1024 with last usable LBA and N, entries from 1536.
QByteArray backupFile(int size, quint64 lastUsable, quint32 count, const QList<QPair<quint64, quint64>> &entries)
{
    QByteArray b(size, '\0');
    if (size >= 1080)
        b.replace(1072, 8, le(lastUsable));
    if (size >= 1108)
        b.replace(1104, 4, le(count));
    for (int i = 0; i < entries.size(); ++i) {
        const int at = 1536 + 128 * i;
        if (at + 48 > size)
            break;
        b.replace(at + 32, 8, le(entries.at(i).first));
        b.replace(at + 40, 8, le(entries.at(i).second));
    }
    return b;
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

        // one byte more is read; the entry array ends at once at the file's end
        r = gptinspect({write("onemore", backupFile(1537, 1000, 128, {{2048, 4095}}))});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, HEAD + "1034 Size of disk in sectors\n1000 Last usable sector\n0 Last used sector\n");
    }

    void entryWalk_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<QByteArray>("lastUsed");
        const QList<QPair<quint64, quint64>> four = {{2048, 4095}, {4096, 8191}, {8192, 9000}, {10240, 20000}};
        QTest::newRow("N = 0") << backupFile(17920, 40000, 0, four) << QByteArray() << QByteArray("0");
        QTest::newRow("third entry empty")
            << backupFile(17920, 40000, 128, {{2048, 4095}, {4096, 8191}, {0, 0}, {10240, 20000}})
            << QByteArray("1 2048 4095\n2 4096 8191\n") << QByteArray("8191");
        QTest::newRow("all N entries in use, no more read")
            << backupFile(17920, 40000, 3, four) << QByteArray("1 2048 4095\n2 4096 8191\n3 8192 9000\n") << QByteArray("9000");
        QTest::newRow("exactly N entries fill the file")
            << backupFile(1536 + 4 * 128, 40000, 4, four)
            << QByteArray("1 2048 4095\n2 4096 8191\n3 8192 9000\n4 10240 20000\n") << QByteArray("20000");
        QTest::newRow("header claims 2^32-1 entries, the file holds 3")
            << backupFile(1536 + 3 * 128 + 100, 40000, 0xFFFFFFFFu, four)
            << QByteArray("1 2048 4095\n2 4096 8191\n3 8192 9000\n") << QByteArray("9000");
        QTest::newRow("last entry cut by the file's end is not read")
            << backupFile(1536 + 3 * 128 + 47, 40000, 128, four)
            << QByteArray("1 2048 4095\n2 4096 8191\n3 8192 9000\n") << QByteArray("9000");
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
