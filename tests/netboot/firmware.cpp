#include "firmware.h"

#include <QDir>
#include <QFile>

namespace {

QString doubleSource(const QString &name)
{
    return Sandbox::sourceDir() + "/tests/netboot/doubles/" + name;
}

void writeExecutable(const QString &path, const QByteArray &content)
{
    Sandbox::writeFile(path, content);
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                    | QFileDevice::ReadOther | QFileDevice::ExeOther);
}

} // namespace

QString Firmware::dir()
{
    return Sandbox::root() + "/fw";
}

bool Firmware::install()
{
    for (const char *name : {"modprobe", "efibootmgr", "dmidecode"}) {
        if (Sandbox::writeDouble(name, QString::fromUtf8(Sandbox::readFile(doubleSource(name)))).isEmpty())
            return false;
    }
    return Sandbox::bind(Sandbox::doublesDir() + "/dmidecode", "/usr/sbin/dmidecode");
}

void Firmware::reset()
{
    QDir(dir()).removeRecursively();
    for (const char *sub : {"dmi", "h2o", "sce", "efi"})
        QDir().mkpath(dir() + "/" + sub);
    Sandbox::writeFile(dir() + "/calls.log", QByteArray());
    removeInsyde();
    removeAmi();
    setEfi({}, QString(), QString());
    for (const char *path : {"/tmp/get-bios-info.csv", "/tmp/new-biosinfo.txt", "/tmp/.pxe-settings.sh",
                             "/tmp/scelnx_in.txt", "/tmp/scelnx_out.txt", "/tmp/BiosHandler.log",
                             "/var/lock/BiosHandler.lck", "/var/hardware/pxe_state", "/var/hardware/platform"})
        QFile::remove(path);
}

void Firmware::setDmi(const QString &keyword, const QString &value)
{
    Sandbox::writeFile(dir() + "/dmi/" + keyword, (value + "\n").toUtf8());
}

void Firmware::setUnit(const QString &product)
{
    setDmi("system-product-name", product);
    setDmi("system-manufacturer", "Vemra");
    setDmi("baseboard-manufacturer", "Vemra Board Works");
    setDmi("bios-version", "L43 v01.10");
}

void Firmware::setPlatformFile(const QString &content)
{
    if (content.isNull())
        QFile::remove("/var/hardware/platform");
    else
        Sandbox::writeFile("/var/hardware/platform", content.toUtf8());
}

void Firmware::setInsyde(const QStringList &rows, bool mmio)
{
    const QByteArray tool = Sandbox::readFile(doubleSource("h2ouve-l"));
    writeExecutable(Sandbox::doublesDir() + "/h2ouve-l", tool);
    writeExecutable(Sandbox::doublesDir() + "/h2ouve-l.real", tool);
    Sandbox::writeFile(dir() + "/h2o/settings.csv", rows.isEmpty() ? QByteArray() : (rows.join("\n") + "\n").toUtf8());
    if (mmio)
        setInsydeFlag("mmio");
}

void Firmware::removeInsyde()
{
    QFile::remove(Sandbox::doublesDir() + "/h2ouve-l");
    QFile::remove(Sandbox::doublesDir() + "/h2ouve-l.real");
}

void Firmware::setInsydeFlag(const QString &flag, const QString &content)
{
    Sandbox::writeFile(dir() + "/h2o/" + flag, content.toUtf8());
}

QString Firmware::insydeValue(const QString &name, const QString &missing)
{
    for (const QString &row : insydeRows()) {
        const QStringList f = row.split(",");
        if (f.size() > 6 && f.at(5) == name)
            return f.at(6);
    }
    return missing;
}

QStringList Firmware::insydeRows()
{
    return readText(dir() + "/h2o/settings.csv").split("\n", Qt::SkipEmptyParts);
}

void Firmware::setAmi(const QString &nvram)
{
    writeExecutable("/opt/SCELNX/SCELNX_64", Sandbox::readFile(doubleSource("SCELNX_64")));
    Sandbox::writeFile(dir() + "/sce/nvram.txt", nvram.toUtf8());
}

void Firmware::removeAmi()
{
    QFile::remove("/opt/SCELNX/SCELNX_64");
}

void Firmware::setAmiFlag(const QString &flag, const QString &content)
{
    Sandbox::writeFile(dir() + "/sce/" + flag, content.toUtf8());
}

QString Firmware::amiNvram()
{
    return readText(dir() + "/sce/nvram.txt");
}

void Firmware::setEfi(const QStringList &entries, const QString &order, const QString &current)
{
    QFile::remove(dir() + "/efi/unsupported");
    Sandbox::writeFile(dir() + "/efi/entries", entries.isEmpty() ? QByteArray() : (entries.join("\n") + "\n").toUtf8());
    Sandbox::writeFile(dir() + "/efi/order", (order + "\n").toUtf8());
    Sandbox::writeFile(dir() + "/efi/current", (current + "\n").toUtf8());
}

void Firmware::setEfiUnsupported()
{
    Sandbox::writeFile(dir() + "/efi/unsupported", QByteArray());
}

QString Firmware::efiOrder()
{
    return readText(dir() + "/efi/order").trimmed();
}

QStringList Firmware::calls()
{
    return readText(dir() + "/calls.log").split("\n", Qt::SkipEmptyParts);
}

int Firmware::countCalls(const QString &prefix)
{
    int n = 0;
    for (const QString &line : calls())
        n += line.startsWith(prefix) ? 1 : 0;
    return n;
}

void Firmware::clearCalls()
{
    Sandbox::writeFile(dir() + "/calls.log", QByteArray());
}

QString Firmware::readText(const QString &path)
{
    return QString::fromUtf8(Sandbox::readFile(path));
}

QStringList Firmware::stdoutLines(const Sandbox::Result &r)
{
    QStringList lines = QString::fromLatin1(r.out).split("\n");
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

Sandbox::Result Firmware::pxeswitch(const QStringList &args, int timeoutMs)
{
    return Sandbox::run(Sandbox::binDir() + "/pxeswitch", args, QByteArray(), QStringList(), timeoutMs);
}
