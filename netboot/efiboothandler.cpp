#include "efiboothandler.h"

#include <QDebug>

EfiBootHandler::EfiBootHandler(QObject *parent)
    : QObject(parent)
    , utilities(Utilities::GetInstance())
{
    GetEfiBootInfo();
}

void EfiBootHandler::GetEfiBootInfo()
{
    bootOrderLine.clear();
    bootEntries.clear();
    const QString program = Utilities::TestMode() ? EFI_TEST_SOURCE : QStringLiteral("efibootmgr");
    ProcessEfiInfo(utilities->ExecuteCmd(program, {}));
}

// efibootmgr lists "BootCurrent: NNNN", "BootOrder: NNNN,NNNN,..." and one "BootNNNN* name" line per
// entry; inactive entries have no "*". Entries from Boot0100 on are not ours to offer.
void EfiBootHandler::ProcessEfiInfo(const QStringList &lines)
{
    bootEntries.clear();
    bootCurrentLine.clear();
    firstBootNum.clear();
    bootOrderLine.clear();

    for (const QString &line : lines) {
        if (line.contains("not supported")) {
            efiSupported = false;
            bootCurrentLine = "Not Supported";
            return;
        }
        if (line.startsWith("BootOrder")) {
            bootOrderLine = line;
        } else if (line.startsWith("BootCurrent")) {
            bootCurrentLine = line;
        } else if (line.startsWith("Boot00")) {
            const QStringList parts = line.split("*");
            if (parts.size() == 2) {
                QString number = parts.at(0);
                number.remove("Boot");
                bootEntries.insert(number, parts.at(1).trimmed());
            }
        }
    }

    if (!bootOrderLine.isEmpty()) {
        const QString order = QString(bootOrderLine).remove("BootOrder: ");
        const int comma = order.indexOf(",");
        if (comma > 0)
            firstBootNum = order.left(comma);
    }
}

QStringList EfiBootHandler::GetEfiInfo() const
{
    QStringList report;
    report << bootOrderLine << bootCurrentLine;
    for (auto it = bootEntries.constBegin(); it != bootEntries.constEnd(); ++it)
        report << it.key() + ": " + it.value();
    return report;
}

QString EfiBootHandler::GetCurrentBootNum() const
{
    if (!efiSupported)
        return QString();
    return QString(bootCurrentLine).remove("BootCurrent:").trimmed();
}

QString EfiBootHandler::GetCurrentBootName() const
{
    const QString number = GetCurrentBootNum();
    if (number.isEmpty() || !bootEntries.contains(number))
        return QString();
    return bootEntries.value(number);
}

QString EfiBootHandler::GetBootNum(const QString &text) const
{
    if (bootEntries.contains(text))
        return text;
    for (auto it = bootEntries.constBegin(); it != bootEntries.constEnd(); ++it) {
        if (it.value() == text)
            return it.key();
    }
    return QString();
}

bool EfiBootHandler::SetFirstBoot(const QString &text)
{
    if (!efiSupported)
        return true;
    return SetBootDevice(GetBootNum(text));
}

bool EfiBootHandler::SetBootDevice(const QString &number)
{
    if (!bootEntries.contains(number))
        return false;
    if (number == firstBootNum)
        return true;

    QString order = QString(bootOrderLine).remove("BootOrder: ");
    order.remove(number);
    order.replace(",,", ",");
    order = number + "," + order;
    if (order.endsWith(","))
        order.chop(1);

    qDebug() << "efibootmgr" << order;
    // efibootmgr takes the new order as the value of its boot order option, attached so that it
    // stays one argument.
    const QStringList output = utilities->ExecuteCmd("efibootmgr", {"--bootorder=" + order});
    if (output.isEmpty() || !output.first().startsWith("BootCurrent"))
        return false;
    ProcessEfiInfo(output);
    return true;
}
