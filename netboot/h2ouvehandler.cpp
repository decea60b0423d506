#include "h2ouvehandler.h"

#include <QElapsedTimer>

const QStringList H2ouveHandler::NETWORK_OPTIONS = {"Network Stack", "Onboard LAN Boot ROM", "PXE Boot to LAN"};
const QStringList H2ouveHandler::PXE_OPTIONS = {"PXE Boot capability", "PXE Boot to LAN", "Onboard LAN Boot ROM"};

namespace {

// A word in single quotes for bash; a quote inside the word is closed, escaped and reopened, so a
// setting name can never break out of its argument.
QString SingleQuoted(const QString &word)
{
    QString quoted = word;
    quoted.replace("'", "'\\''");
    return "'" + quoted + "'";
}

QString ForceText(bool force)
{
    return force ? QStringLiteral("force on") : QString();
}

} // namespace

H2ouveHandler::H2ouveHandler(QObject *parent)
    : PxeHandler(parent)
{
    handlerName = "Insyde h2ouve";
    dataFile.setFileName(BIOS_OUT_FILE);
    CheckForMmio();
    if (isValidHandler())
        PreInit(false);
}

H2ouveHandler::~H2ouveHandler()
{
    ClearSettings();
}

void H2ouveHandler::ClearSettings()
{
    networkSetting = nullptr;
    pxeSettings.clear();
    qDeleteAll(allSettings);
    allSettings.clear();
}

QList<const H2ouveSettings *> H2ouveHandler::PxeSettings() const
{
    QList<const H2ouveSettings *> list;
    for (const H2ouveSettings *s : pxeSettings)
        list.append(s);
    return list;
}

bool H2ouveHandler::IsPxeEnabled()
{
    return pxeEnabled;
}

void H2ouveHandler::CheckForMmio()
{
    useMmio = utilities->ExecuteCmdString("h2ouve-l", {"-help"}).contains("mmio");
    utilities->LogMessage(2, QString("useMMIO=%1").arg(useMmio ? 1 : 0));
}

// Only the tool's own refusal of the firmware rules the handler out; a missing tool says nothing
// and so leaves the handler in place as the default.
bool H2ouveHandler::isValidHandler()
{
    const QString output = utilities->ExecuteCmd("h2ouve-l", {"-fea"}).join("\n");
    validHandler = !output.contains("WARNING: Read IFRPKG pointer failed");
    return validHandler;
}

void H2ouveHandler::ReInit(bool force)
{
    utilities->LogMessage(3, QString("H2ouveHandler::ReInit %1").arg(ForceText(force)));
    PreInit(force);
}

bool H2ouveHandler::PreInit(bool force)
{
    utilities->LogMessage(3, QString("H2ouveHandler::PreInit %1").arg(ForceText(force)));
    SettingsInfoInit();
    GetBiosInfo(force);
    ProcessSettings();
    initialized = true;
    return true;
}

bool H2ouveHandler::ParseCsvLine(const QString &line, H2ouveSettings &setting)
{
    if (!line.startsWith("*,"))
        return false;
    const QStringList fields = line.split(",");
    if (fields.size() < 7)
        return false;
    setting.name = fields.at(5);
    setting.value = fields.at(6);
    setting.options.clear();
    // The option list is one double-quoted field holding commas, so it arrives cut into pieces;
    // at most eight pieces are taken.
    for (int i = 7; i < fields.size() && i <= 14; ++i) {
        QString option = fields.at(i);
        if (option.startsWith('"'))
            option.remove(0, 1);
        if (option.endsWith('"')) {
            option.remove('"');
            setting.options.append(option);
            break;
        }
        setting.options.append(option);
    }
    return true;
}

void H2ouveHandler::GetBiosInfo(bool force)
{
    utilities->LogMessage(2, "start H2ouveHandler::GetBiosInfo");
    utilities->LogMessage(2, QString("OutputFile = %1").arg(dataFile.fileName()));

    bool locked = false;
    if (dataFile.exists() && !force) {
        utilities->LogMessage(2, QString("%1 Exists").arg(dataFile.fileName()));
    } else {
        utilities->LogMessage(2, QString("%1 Does Not Exists").arg(dataFile.fileName()));
        if (!GetLock()) {
            utilities->LogMessage(-1, "Could not get lock");
            return;
        }
        locked = true;

        const QString command = QString("h2ouve-l ") + (useMmio ? "-mmio " : "") + "-gs " + BIOS_OUT_FILE
                                + (useAllOption ? " -all" : "") + " -csv";
        utilities->LogMessage(1, command);
        // Locked tool runs are waited for until they end: the lock is held as long as the tool runs.
        QString output = utilities->GetCommandResults(command, true);
        if (!dataFile.exists()) {
            utilities->LogMessage(2, output);
            utilities->LogMessage(2, "data file does not exist");
            utilities->LogMessage(2, "PASSWORD MAYBE REQUIRED");
            utilities->LogMessage(2, command);
            output = utilities->GetCommandResults(command + " -pw " + SETUP_PASSWORD, true);
        }
        utilities->LogMessage(2, output);
        if (output.startsWith("Process returned", Qt::CaseInsensitive)) {
            utilities->LogMessage(-1, "ERROR: invalid response to " + command);
            ReleaseLock();
            utilities->LogMessage(2, "abort GetNewToolBiosInfo");
            return;
        }
    }

    ClearSettings();
    parsedList = summaryList;

    if (!dataFile.open(QIODevice::ReadOnly)) {
        utilities->LogMessage(2, "Could not open data file");
    } else {
        QByteArray bytes = dataFile.readAll();
        dataFile.close();
        const int zero = bytes.indexOf('\0');
        if (zero >= 0)
            bytes.truncate(zero);
        const QStringList lines = QString::fromLatin1(bytes).split("\n");
        for (const QString &line : lines) {
            H2ouveSettings parsed;
            if (!ParseCsvLine(line, parsed))
                continue;
            utilities->LogMessage(3, line);
            auto *setting = new H2ouveSettings(parsed);
            utilities->LogMessage(2, setting->toString());
            allSettings.append(setting);
            parsedList.append(QString("%1: %2").arg(setting->name, setting->value));
        }
        SaveParsedSettings();
    }

    if (locked)
        ReleaseLock();
    utilities->LogMessage(2, "end  H2ouveHandler::GetBiosInfo");
}

void H2ouveHandler::SaveParsedSettings()
{
    if (!parsedList.isEmpty())
        utilities->WriteTextFile(PARSED_SETTINGS_FILE, parsedList, false);
}

void H2ouveHandler::ProcessSettings()
{
    utilities->LogMessage(2, "start ProcessSettings");
    uefiBoot = true;
    networkSetting = nullptr;
    pxeSettings.clear();

    for (H2ouveSettings *setting : qAsConst(allSettings)) {
        utilities->LogMessage(3, setting->toString());
        if (NETWORK_OPTIONS.contains(setting->name) && !ignoreNetworkStack) {
            utilities->LogMessage(3, setting->name + " found in Network options");
            if (!networkSetting)
                networkSetting = setting;
        }
        bool isPxe = false;
        for (const QString &prefix : PXE_OPTIONS)
            isPxe = isPxe || setting->name.startsWith(prefix);
        if (isPxe && !(networkSetting && networkSetting->name == setting->name)) {
            utilities->LogMessage(3, setting->name + " found in PXE options");
            pxeSettings.append(setting);
        } else if (setting->name == "Boot Type") {
            if (!setting->value.contains("UEFI"))
                uefiBoot = false;
            if (setting->value.startsWith("Legacy"))
                ignoreNetworkStack = true;
        }
    }

    if (QFile::exists(BIOS_STATE_FILE))
        QFile::remove(BIOS_STATE_FILE);
    QString state = "unknown";

    if (networkSetting) {
        utilities->LogMessage(3, "lan settings: " + networkSetting->toString());
        summaryList.append("Lan Settings: " + networkSetting->name + ", " + networkSetting->value + ", ("
                           + networkSetting->options.join(", ") + ")");
        state = networkSetting->value.toLower();
    }
    if (!pxeSettings.isEmpty()) {
        summaryList.append("PXE Settings:");
        for (const H2ouveSettings *setting : qAsConst(pxeSettings)) {
            utilities->LogMessage(3, "PXE settings: " + setting->toString());
            summaryList.append("   " + setting->name + ", " + setting->value + ", ("
                               + setting->options.join(", ") + ")");
            if (state == "unknown")
                state = setting->value == "Disabled" ? "disabled" : "enabled";
        }
    }

    WritePxeState(state);

    summaryList.append(QString("UEFI Boot: %1").arg(uefiBoot ? "true" : "false"));
    summaryList.append(QString("Use MMIO: %1").arg(useMmio ? "true" : "false"));
    summaryList.append(QString("PXE state = %1").arg(pxeEnabled ? 1 : 0));
    utilities->LogMessage(1, QString("Current PXE = %1").arg(pxeEnabled ? 1 : 0));
    utilities->LogMessage(1, QString("Ignore NetworkStack Setting = %1").arg(ignoreNetworkStack ? 1 : 0));
    utilities->LogMessage(1, QString("Use '-all' option = %1").arg(useAllOption ? 1 : 0));
    utilities->LogMessage(3, summaryList.join("\n"));
    utilities->LogMessage(2, "end   ProcessSettings");
}

QStringList H2ouveHandler::WriteArguments(bool enable) const
{
    const QString stateWord = enable ? "Enabled" : "Disabled";
    QStringList args;
    if (useMmio)
        args << "-mmio";
    args << "-ms";
    if (networkSetting)
        args << "-fi" << SingleQuoted(networkSetting->name) << "-op" << SingleQuoted(stateWord);
    for (const H2ouveSettings *setting : pxeSettings) {
        QString wanted = !enable ? "Disabled" : (uefiBoot ? "UEFI:IPv4" : "Legacy");
        if (!setting->options.contains(wanted))
            wanted = stateWord;
        args << "-fi" << SingleQuoted(setting->name) << "-op" << SingleQuoted(wanted);
    }
    return args;
}

bool H2ouveHandler::SetPxeEnabled(bool enable)
{
    pxeEnabled = false;
    if (!initialized)
        PreInit(false);

    if (GetLock()) {
        QFile script(PXE_SETTINGS_SCRIPT);
        if (!script.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            ReleaseLock();
        } else {
            const QStringList args = WriteArguments(enable);
            const QString text = QString("#!/bin/bash\n\nmodprobe phy_alloc\n\n") + "h2ouve-l.real" + " "
                                 + args.join(" ") + "\n";
            script.write(text.toLatin1());
            script.close();
            utilities->LogMessage(2, "h2ouve-l.real" + QString(" ") + args.join(","));

            QElapsedTimer timer;
            timer.start();
            const QString output = utilities->GetCommandResults("bash " + PXE_SETTINGS_SCRIPT, true);
            utilities->LogMessage(2, output);
            utilities->LogMessage(1, QString("Write Elapsed Time = %1 msecs").arg(timer.elapsed()));

            if (output.contains("Successful update SCU")) {
                WritePxeState(QString(enable ? "enabled" : "disabled"));
                pxeEnabled = enable;
            }

            dataFile.remove();
            ReleaseLock();
            utilities->LogMessage(1, "Lock Released");
            initPxeInfo();
            utilities->LogMessage(1, QString("Total (Write + Read) Elapsed Time = %1 msecs").arg(timer.elapsed()));
        }
    }

    utilities->OutputMessageToTerminal("PXE state = " + pxeState);
    return pxeEnabled;
}

void H2ouveHandler::initPxeInfo()
{
    utilities->LogMessage(2, "start initPxeInfo");
    dataFile.remove();
    utilities->LogMessage(2, "      initPxeInfo remove " + dataFile.fileName());
    PreInit(false);
    utilities->LogMessage(2, "end   initPxeInfo");
}
