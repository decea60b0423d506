#pragma once
// Setup handler for Insyde firmware, driven through the H2OUVE tool: "h2ouve-l" reads (CSV export)
// and probes, "h2ouve-l.real" writes from a generated script after the phy_alloc module is loaded.

#include <QFile>
#include <QList>

#include "h2ouvesettings.h"
#include "pxehandler.h"

static const QString BIOS_OUT_FILE = QStringLiteral("/tmp/get-bios-info.csv");
static const QString PARSED_SETTINGS_FILE = QStringLiteral("/tmp/new-biosinfo.txt");
static const QString PXE_SETTINGS_SCRIPT = QStringLiteral("/tmp/.pxe-settings.sh");
static const QString SETUP_PASSWORD = QStringLiteral("47QXR");

class H2ouveHandler : public PxeHandler
{
    Q_OBJECT
public:
    explicit H2ouveHandler(QObject *parent = nullptr);
    ~H2ouveHandler() override;

    bool IsPxeEnabled() override;
    bool SetPxeEnabled(bool enable) override;
    bool isValidHandler() override;
    void ReInit(bool force) override;

    void CheckForMmio();
    bool PreInit(bool force);
    void GetBiosInfo(bool force);
    void ProcessSettings();
    void SaveParsedSettings();
    void initPxeInfo();

    // Parses one line of the CSV export; false when it does not describe a question.
    static bool ParseCsvLine(const QString &line, H2ouveSettings &setting);

    // Read-only views for the report and the tests.
    bool UefiBoot() const { return uefiBoot; }
    bool UseMmio() const { return useMmio; }
    bool IgnoreNetworkStack() const { return ignoreNetworkStack; }
    const H2ouveSettings *NetworkSetting() const { return networkSetting; }
    QList<const H2ouveSettings *> PxeSettings() const;
    QStringList SummaryList() const { return summaryList; }

    static const QStringList NETWORK_OPTIONS;
    static const QStringList PXE_OPTIONS;

private:
    void ClearSettings();
    QStringList WriteArguments(bool enable) const;

    QFile dataFile;
    bool uefiBoot = true;
    bool useMmio = false;
    bool ignoreNetworkStack = false;
    bool useAllOption = true;
    bool initialized = false;
    H2ouveSettings *networkSetting = nullptr;
    QList<H2ouveSettings *> allSettings;
    QList<H2ouveSettings *> pxeSettings;
    QStringList summaryList;
    QStringList parsedList;
};
