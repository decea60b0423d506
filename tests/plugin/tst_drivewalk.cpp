// The drive walk of the installer plug-in, run natively against a scripted double of the
// Windows calls: which roots Windows lists, their drive types, which carry a volume, and the
// ways the list can fail.
#include "drivelayer.h"
#include "drivewalk.h"
#include "stringstack.h"

#include <QtTest>

#include <cstdlib>
#include <cstring>
#include <set>

namespace {
const unsigned Fixed = 3;     // DRIVE_FIXED
const unsigned Removable = 2; // DRIVE_REMOVABLE
const unsigned CdRom = 5;     // DRIVE_CDROM

class FakeDrives final : public DriveLayer
{
public:
    enum class Failure { None, NoLength, NoMemory, FillFails, ListGrew };

    // roots: letters in the order Windows lists them; removable letters; letters with a volume.
    void setDrives(const QByteArray &letters, const QByteArray &removable, const QByteArray &withVolume)
    {
        m_list.clear();
        for (char letter : letters) {
            m_list.append(letter);
            m_list.append(":\\", 2);
            m_list.append('\0');
        }
        m_list.append('\0');
        m_removable = removable;
        m_withVolume = withVolume;
    }
    void setFailure(Failure failure) { m_failure = failure; }

    unsigned logicalDriveStrings(unsigned length, char *buffer) override
    {
        if (m_failure == Failure::NoLength)
            return 0;
        const unsigned needed = unsigned(m_list.size());
        if (length == 0 && buffer == nullptr) {
            m_listAllocationDue = true;
            return needed;
        }
        if (m_failure == Failure::FillFails)
            return 0;
        if (m_failure == Failure::ListGrew || length < needed)
            return needed + 4; // a stick came in between the two calls: nothing written
        std::memcpy(buffer, m_list.constData(), needed);
        ++listsFilled;
        return needed - 1;
    }
    unsigned driveType(const char *root) override
    {
        probed += root[0];
        modeWhileProbing = qMin(modeWhileProbing, m_mode & FailCriticalErrors);
        if (m_removable.contains(root[0]))
            return Removable;
        return root[0] == 'D' ? CdRom : Fixed;
    }
    bool volumeInformation(const char *root) override
    {
        modeWhileProbing = qMin(modeWhileProbing, m_mode & FailCriticalErrors);
        return m_withVolume.contains(root[0]);
    }
    unsigned setErrorMode(unsigned mode) override
    {
        const unsigned previous = m_mode;
        m_mode = mode;
        ++modeChanges;
        return previous;
    }
    void *allocateZeroed(std::size_t bytes) override
    {
        // The allocation right after the length question is the drive list; NoMemory refuses it.
        if (m_failure == Failure::NoMemory && m_listAllocationDue) {
            m_listAllocationDue = false;
            return nullptr;
        }
        m_listAllocationDue = false;
        void *block = std::calloc(1, bytes);
        live.insert(block);
        return block;
    }
    void release(void *block) override
    {
        QVERIFY2(live.erase(block) == 1, "released a block that was not allocated here");
        std::free(block);
    }
    unsigned mode() const { return m_mode; }

    std::set<void *> live;
    QByteArray probed;
    unsigned modeWhileProbing = ~0u;
    int modeChanges = 0;
    int listsFilled = 0;

private:
    QByteArray m_list;
    QByteArray m_removable;
    QByteArray m_withVolume;
    Failure m_failure = Failure::None;
    bool m_listAllocationDue = false;
    unsigned m_mode = 0x8000; // SEM_NOOPENFILEERRORBOX: the installer's own mode, kept
};

// The installer's side: a stack with one string of its own below, popped after each call.
struct Installer
{
    explicit Installer(FakeDrives &drives, int stringSize = 1024)
        : drives(drives), stringSize(stringSize)
    {
        StringStack(drives, &top, 1024).push("below");
    }
    ~Installer()
    {
        while (StringStack(drives, &top, 1024).pop(nullptr, 0)) {
        }
    }
    int depth() const
    {
        int d = 0;
        for (nsis::stack_t *n = top; n; n = n->next)
            ++d;
        return d;
    }
    // The one string a call left: must be exactly one above "below".
    QByteArray answer()
    {
        if (depth() != 2)
            return QByteArray("<") + QByteArray::number(depth() - 1) + " strings pushed>";
        char text[1024];
        StringStack(drives, &top, stringSize).pop(text, sizeof text);
        return QByteArray(text);
    }

    FakeDrives &drives;
    int stringSize;
    char variables[16] = {};
    nsis::stack_t *top = nullptr;
};
} // namespace

class TestDriveWalk : public QObject
{
    Q_OBJECT

private slots:
    void answers_data();
    void answers();
    void listFailures_data();
    void listFailures();
    void withoutStackPointer();
    void truncatedToStringSize_data();
    void truncatedToStringSize();
    void manyDrives();
    void remembersTheInstallersValues();
    void stackPushAndPop();
};

void TestDriveWalk::answers_data()
{
    QTest::addColumn<QByteArray>("letters");
    QTest::addColumn<QByteArray>("removable");
    QTest::addColumn<QByteArray>("withVolume");
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QByteArray>("all");

    QTest::newRow("C fixed, E stick, F empty card reader") << QByteArray("CEF") << QByteArray("EF")
                                                           << QByteArray("CE") << QByteArray("E:") << QByteArray("E:");
    QTest::newRow("two sticks E and G") << QByteArray("CEG") << QByteArray("EG") << QByteArray("CEG")
                                        << QByteArray("E:") << QByteArray("E:|G:");
    QTest::newRow("floppy A with a disk, stick E") << QByteArray("ACE") << QByteArray("AE") << QByteArray("ACE")
                                                   << QByteArray("E:") << QByteArray("E:");
    QTest::newRow("floppies A and B only") << QByteArray("ABC") << QByteArray("AB") << QByteArray("ABC")
                                           << QByteArray("") << QByteArray("");
    QTest::newRow("fixed drive only") << QByteArray("C") << QByteArray("") << QByteArray("C")
                                      << QByteArray("") << QByteArray("");
    QTest::newRow("empty card readers only") << QByteArray("CFH") << QByteArray("FH") << QByteArray("C")
                                             << QByteArray("") << QByteArray("");
    QTest::newRow("CD with a disc is not removable") << QByteArray("CDE") << QByteArray("E") << QByteArray("CDE")
                                                     << QByteArray("E:") << QByteArray("E:");
    QTest::newRow("Windows order kept") << QByteArray("CHGE") << QByteArray("HGE") << QByteArray("CHGE")
                                        << QByteArray("H:") << QByteArray("H:|G:|E:");
}

void TestDriveWalk::answers()
{
    QFETCH(QByteArray, letters);
    QFETCH(QByteArray, removable);
    QFETCH(QByteArray, withVolume);
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, all);

    FakeDrives drives;
    drives.setDrives(letters, removable, withVolume);
    DriveWalk walk(drives);
    {
        Installer installer(drives);
        walk.GetFirstUsbDrive(installer.stringSize, installer.variables, &installer.top);
        QCOMPARE(installer.answer(), first);
        walk.GetAllUsbDrives(installer.stringSize, installer.variables, &installer.top);
        QCOMPARE(installer.answer(), all);
    }
    // The drive list is freed; the error mode is the installer's again, and was the
    // fail-critical-errors mode while drives were probed.
    QVERIFY(drives.live.empty());
    QCOMPARE(drives.mode(), 0x8000u);
    QCOMPARE(drives.modeChanges, 4);
    QCOMPARE(drives.modeWhileProbing, DriveLayer::FailCriticalErrors);
    QVERIFY2(!drives.probed.contains('A') && !drives.probed.contains('B'), drives.probed.constData());
}

void TestDriveWalk::listFailures_data()
{
    QTest::addColumn<int>("failure");
    QTest::newRow("no list length") << int(FakeDrives::Failure::NoLength);
    QTest::newRow("no memory for the list") << int(FakeDrives::Failure::NoMemory);
    QTest::newRow("list cannot be filled") << int(FakeDrives::Failure::FillFails);
    QTest::newRow("list grew between the calls") << int(FakeDrives::Failure::ListGrew);
}

void TestDriveWalk::listFailures()
{
    QFETCH(int, failure);

    FakeDrives drives;
    drives.setDrives("CEG", "EG", "CEG");
    drives.setFailure(FakeDrives::Failure(failure));
    DriveWalk walk(drives);
    {
        Installer installer(drives);
        walk.GetFirstUsbDrive(installer.stringSize, installer.variables, &installer.top);
        QCOMPARE(installer.answer(), QByteArray("error"));
        walk.GetAllUsbDrives(installer.stringSize, installer.variables, &installer.top);
        QCOMPARE(installer.answer(), QByteArray("error"));
    }
    QCOMPARE(drives.listsFilled, 0);
    QVERIFY(drives.probed.isEmpty());
    QCOMPARE(drives.modeChanges, 0);
    QVERIFY(drives.live.empty());
}

void TestDriveWalk::withoutStackPointer()
{
    // An installer without a stack gets nothing pushed, neither an answer nor "error", not even
    // onto the stack the call before was given; nothing is left allocated.
    for (auto failure : {FakeDrives::Failure::None, FakeDrives::Failure::NoLength, FakeDrives::Failure::FillFails}) {
        FakeDrives drives;
        drives.setDrives("CE", "E", "CE");
        DriveWalk walk(drives);
        Installer earlier(drives);
        walk.GetFirstUsbDrive(earlier.stringSize, earlier.variables, &earlier.top);
        QCOMPARE(earlier.answer(), QByteArray("E:"));

        drives.setFailure(failure);
        char variables[16] = {};
        walk.GetFirstUsbDrive(1024, variables, nullptr);
        walk.GetAllUsbDrives(1024, variables, nullptr);
        QCOMPARE(earlier.depth(), 1);
        QCOMPARE(drives.live.size(), size_t(1)); // the earlier installer's own string
        QCOMPARE(drives.mode(), 0x8000u);
    }
}

void TestDriveWalk::truncatedToStringSize_data()
{
    QTest::addColumn<int>("stringSize");
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QByteArray>("all");
    QTest::addColumn<QByteArray>("error");
    QTest::newRow("0") << 0 << QByteArray("") << QByteArray("") << QByteArray("");
    QTest::newRow("1") << 1 << QByteArray("") << QByteArray("") << QByteArray("");
    QTest::newRow("2") << 2 << QByteArray("E") << QByteArray("E") << QByteArray("e");
    QTest::newRow("3") << 3 << QByteArray("E:") << QByteArray("E:") << QByteArray("er");
    QTest::newRow("4") << 4 << QByteArray("E:") << QByteArray("E:|") << QByteArray("err");
    QTest::newRow("5") << 5 << QByteArray("E:") << QByteArray("E:|G") << QByteArray("erro");
    QTest::newRow("6") << 6 << QByteArray("E:") << QByteArray("E:|G:") << QByteArray("error");
    QTest::newRow("negative") << -5 << QByteArray("") << QByteArray("") << QByteArray("");
}

void TestDriveWalk::truncatedToStringSize()
{
    QFETCH(int, stringSize);
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, all);
    QFETCH(QByteArray, error);

    FakeDrives drives;
    drives.setDrives("CEG", "EG", "CEG");
    DriveWalk walk(drives);
    Installer installer(drives, stringSize);
    walk.GetFirstUsbDrive(stringSize, installer.variables, &installer.top);
    QCOMPARE(installer.answer(), first);
    walk.GetAllUsbDrives(stringSize, installer.variables, &installer.top);
    QCOMPARE(installer.answer(), all);

    drives.setFailure(FakeDrives::Failure::NoLength);
    walk.GetAllUsbDrives(stringSize, installer.variables, &installer.top);
    QCOMPARE(installer.answer(), error);
}

void TestDriveWalk::manyDrives()
{
    FakeDrives drives;
    DriveWalk walk(drives);
    Installer installer(drives, 1024);

    // Every letter a removable drive with media: A and B still left out.
    const QByteArray letters("ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    drives.setDrives(letters, letters, letters);
    walk.GetAllUsbDrives(1024, installer.variables, &installer.top);
    QCOMPARE(installer.answer(),
             QByteArray("C:|D:|E:|F:|G:|H:|I:|J:|K:|L:|M:|N:|O:|P:|Q:|R:|S:|T:|U:|V:|W:|X:|Y:|Z:"));

    // More roots than the 256-byte answer holds (a broken or hostile list): the answer stops at
    // the last whole item that fits, 85 items in 254 characters, and nothing overflows.
    const QByteArray crowd(100, 'E');
    drives.setDrives(crowd, "E", "E");
    walk.GetAllUsbDrives(1024, installer.variables, &installer.top);
    const QByteArray answer = installer.answer();
    QCOMPARE(answer.size(), 254);
    QCOMPARE(answer, QByteArray("E:|").repeated(84) + "E:");
    walk.GetFirstUsbDrive(1024, installer.variables, &installer.top);
    QCOMPARE(installer.answer(), QByteArray("E:"));
    QVERIFY(drives.live.size() == 1); // only the installer's own string below
}

void TestDriveWalk::remembersTheInstallersValues()
{
    FakeDrives drives;
    drives.setDrives("CE", "E", "CE");
    DriveWalk walk(drives);
    Installer installer(drives, 77);
    walk.GetFirstUsbDrive(77, installer.variables, &installer.top);
    QCOMPARE(walk.context().stringSize, 77);
    QCOMPARE(walk.context().variables, installer.variables);
    QCOMPARE(walk.context().stackTop, &installer.top);
    QCOMPARE(installer.answer(), QByteArray("E:"));

    walk.GetAllUsbDrives(12, nullptr, nullptr);
    QCOMPARE(walk.context().stringSize, 12);
    QCOMPARE(walk.context().variables, static_cast<char *>(nullptr));
    QCOMPARE(walk.context().stackTop, static_cast<nsis::stack_t **>(nullptr));
}

void TestDriveWalk::stackPushAndPop()
{
    FakeDrives drives;
    nsis::stack_t *top = nullptr;
    StringStack stack(drives, &top, 8);
    QVERIFY(stack.push("one"));
    QVERIFY(stack.push("a text longer than eight"));
    QCOMPARE(drives.live.size(), size_t(2));
    char text[16];
    QVERIFY(stack.pop(text, sizeof text));
    QCOMPARE(QByteArray(text), QByteArray("a text "));
    // A small buffer gets a terminated prefix.
    char small[3];
    QVERIFY(stack.pop(small, sizeof small));
    QCOMPARE(QByteArray(small), QByteArray("on"));
    QVERIFY(!stack.pop(text, sizeof text));
    QVERIFY(top == nullptr);
    QVERIFY(drives.live.empty());

    StringStack none(drives, nullptr, 8);
    QVERIFY(!none.push("x"));
    QVERIFY(!none.pop(text, sizeof text));
    QVERIFY(drives.live.empty());
}

QTEST_GUILESS_MAIN(TestDriveWalk)
#include "tst_drivewalk.moc"
