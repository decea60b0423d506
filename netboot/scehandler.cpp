#include "scehandler.h"

#include <QFile>

SceHandler::SceHandler(QObject *parent)
    : PxeHandler(parent)
{
    handlerName = "SceLnx";
}

void SceHandler::ClearQuestions()
{
    qDeleteAll(questions);
    questions.clear();
}

bool SceHandler::isValidHandler()
{
    return BuildTable(false);
}

// The export in /tmp is a cache: it is only made again when forced or missing. The export does
// not write the firmware, so it runs without the tool lock.
bool SceHandler::BuildTable(bool force)
{
    ClearQuestions();
    if (force || !QFile::exists(SCELNX_DATA_IN))
        utilities->ExecuteCmd(SCELNX_TOOL, {"/o", "/s", SCELNX_DATA_IN, "/hb"});

    const QStringList lines = utilities->ReadTextFile(SCELNX_DATA_IN);
    if (lines.size() < 2) {
        validHandler = false;
        return false;
    }

    const QStringList blocks = lines.join("\n").split("\n\n");
    headerBlocks.append(blocks.first());
    for (const QString &block : blocks) {
        auto *data = new SceData(block, this);
        const QString name = data->setupQuestion.trimmed();
        if (name.isEmpty()) {
            delete data;
            continue;
        }
        delete questions.value(name, nullptr);
        questions.insert(name, data);
    }
    StateFromTable();
    return true;
}

bool SceHandler::StateFromTable()
{
    const SceData *network = questions.value("Network Stack", nullptr);
    if (!network)
        return false;
    const bool enabled = network->currentOption.contains("Enabled");
    pxeState = enabled ? "Enabled" : "Disabled";
    return enabled;
}

bool SceHandler::IsPxeEnabled()
{
    if (questions.isEmpty())
        BuildTable(false);
    if (questions.isEmpty())
        return false;
    return StateFromTable();
}

void SceHandler::ReInit(bool force)
{
    if (force) {
        ClearQuestions();
        headerBlocks.clear();
        BuildTable(true);
    }
    SettingsInfoInit();
    infoList.append("PXE state:  " + pxeState);
}

bool SceHandler::SetPxeEnabled(bool enable)
{
    if (headerBlocks.isEmpty())
        BuildTable(false);
    if (headerBlocks.isEmpty())
        return enable;

    QStringList lines = headerBlocks;
    lines.append(QString());
    if (const SceData *network = questions.value("Network Stack", nullptr)) {
        for (const QString &raw : network->rawLines) {
            if (raw.trimmed().startsWith("Options"))
                break;
            lines.append(raw);
        }
        const QString wanted = enable ? "Enabled" : "Disabled";
        for (int i = 0; i < network->options.size(); ++i) {
            const QString &option = network->options.at(i);
            lines.append(QString(i == 0 ? "Options\t=" : "\t") + (option.contains(wanted) ? "*" : "") + option);
        }
    }
    utilities->WriteTextFile(SCELNX_DATA_OUT, lines, false);

    const QStringList importArgs = {"/i", "/s", SCELNX_DATA_OUT, "/hb", "/q", "/cpwd", SCELNX_PASSWORD};
    if (!GetLock()) {
        BuildTable(false);
        return enable;
    }
    // The lock is held, and the import left alone, until the tool has ended.
    const QString output = utilities->ExecuteCmdString(SCELNX_TOOL, importArgs, true);
    const bool imported = output.contains("imported successfully");
    utilities->LogMessage(2, output);
    if (imported) {
        pxeState = enable ? "Enabled" : "Disabled";
        WritePxeState(enable);
    }
    ReleaseLock();

    BuildTable(imported);
    return enable;
}
