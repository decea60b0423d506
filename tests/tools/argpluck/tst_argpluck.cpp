// argpluck run as a real process: the value it plucks from a query string on its standard
// input, the usage line, and inputs longer than its key buffer.
#include "sandbox.h"

#include <QtTest>

class TstArgpluck : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        BRENLOW_REQUIRE_SANDBOX();
    }

    void pluck_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("output");
        QTest::newRow("second pair") << QByteArray("a=1&b=2") << "b" << QByteArray("2\n");
        QTest::newRow("first pair") << QByteArray("a=1&b=2") << "a" << QByteArray("1\n");
        QTest::newRow("name twice") << QByteArray("b=2&b=3") << "b" << QByteArray("23\n");
        QTest::newRow("absent") << QByteArray("x=5") << "y" << QByteArray("\n");
        QTest::newRow("no decoding") << QByteArray("name=a+b%20c") << "name" << QByteArray("a+b%20c\n");
        QTest::newRow("empty input") << QByteArray() << "a" << QByteArray("\n");
        QTest::newRow("case matters") << QByteArray("Name=1&name=2") << "name" << QByteArray("2\n");
        QTest::newRow("= inside value") << QByteArray("k=v=w&z=1") << "k" << QByteArray("vw\n");
        QTest::newRow("trailing newline kept") << QByteArray("k=v\n") << "k" << QByteArray("v\n\n");
        QTest::newRow("prefix is not a match") << QByteArray("model=x&mode=y") << "mode" << QByteArray("y\n");
        // A non-matching value stays in the buffer behind its key until the next "&", so a second
        // "=" compares the key and that value together.
        QTest::newRow("value joins key") << QByteArray("x=1=2&y=3") << "x1" << QByteArray("2\n");
        QTest::newRow("zero byte in key") << QByteArray("a\0b=1&a=2", 9) << "a" << QByteArray("2\n");
    }

    void pluck()
    {
        QFETCH(QByteArray, input);
        QFETCH(QString, name);
        QFETCH(QByteArray, output);
        const Sandbox::Result r = Sandbox::run("argpluck", {name}, input);
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, output);
    }

    void usage_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("none") << QStringList();
        QTest::newRow("two") << QStringList{"a", "b"};
    }

    void usage()
    {
        QFETCH(QStringList, args);
        const Sandbox::Result r = Sandbox::run("argpluck", args, "a=1&b=2");
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QByteArray("Usage : argpluck name \n"));
    }

    void longKeys_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("output");
        const QByteArray fits(1023, 'k');
        QTest::newRow("huge key before the pair") << QByteArray(200000, 'a') + "=v&b=2" << QByteArray("b") << QByteArray("2\n");
        QTest::newRow("huge value before a second =")
            << "x=" + QByteArray(200000, 'v') + "=1&k=ok" << QByteArray("k") << QByteArray("ok\n");
        QTest::newRow("longest key that fits") << fits + "=yes" << fits << QByteArray("yes\n");
        // The first 1023 characters equal the name, but the key goes on: no match.
        QTest::newRow("over-long key with the name as prefix") << fits + "tail=no&z=1" << fits << QByteArray("\n");
        QTest::newRow("key + value overflow, then =")
            << fits.left(1000) + "=" + QByteArray(100, 'v') + "=no&k=ok" << QByteArray("k") << QByteArray("ok\n");
    }

    // Keys longer than the 1024-byte buffer never overrun it and never match by their prefix.
    void longKeys()
    {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, output);
        const Sandbox::Result r = Sandbox::run("argpluck", {QString::fromLatin1(name)}, input);
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, output);
    }
};

QTEST_GUILESS_MAIN(TstArgpluck)
#include "tst_argpluck.moc"
