#pragma once
// Setup handler for the maker's AMI platform, driven through the SCE tool: the setup questions are
// exported to a text file and parsed into blocks; PXE is switched by importing a file that holds
// only the "Network Stack" question with the wanted option marked.

#include <QMap>

#include "pxehandler.h"
#include "scedata.h"

static const QString SCELNX_TOOL = QStringLiteral("/opt/SCELNX/SCELNX_64");
static const QString SCELNX_DATA_IN = QStringLiteral("/tmp/scelnx_in.txt");
static const QString SCELNX_DATA_OUT = QStringLiteral("/tmp/scelnx_out.txt");
static const QString SCELNX_PASSWORD = QStringLiteral("47QXR");

class SceHandler : public PxeHandler
{
    Q_OBJECT
public:
    explicit SceHandler(QObject *parent = nullptr);

    bool IsPxeEnabled() override;
    bool SetPxeEnabled(bool enable) override;
    bool isValidHandler() override;
    void ReInit(bool force) override;

    bool BuildTable(bool force);

    const QMap<QString, SceData *> &Questions() const { return questions; }
    QStringList HeaderBlocks() const { return headerBlocks; }

private:
    void ClearQuestions();
    bool StateFromTable();

    QMap<QString, SceData *> questions;
    QStringList headerBlocks;
};
