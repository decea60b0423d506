// pxeswitch: reads and switches the firmware's network boot (PXE) setting through the setup tool
// that fits the platform, and shows and changes the EFI first boot entry. One action per run;
// -g opens the window instead.

#include <QCommandLineParser>
#include <QCoreApplication>

#include "pxewrapper.h"
#include "utilities.h"

int main(int argc, char *argv[])
{
    auto *app = new QCoreApplication(argc, argv);
    QCoreApplication::setApplicationVersion(VERSION);

    QCommandLineParser parser;
    parser.setApplicationDescription("Pxeswitch Utility");
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption disableOption({"d", "disable"}, "Disable PXE");
    const QCommandLineOption enableOption({"e", "enable"}, "Enable PXE");
    const QCommandLineOption stateOption({"s", "state"}, "Current PXE State");
    const QCommandLineOption queryOption({"q", "query"}, "Query PXE info");
    const QCommandLineOption initOption({"i", "init"}, "Initialize PXE info");
    const QCommandLineOption loggingOption({"l", "logging"}, "Debug Log Level", "level");
    const QCommandLineOption guiOption({"g", "gui"}, "Launch using GUI");
    const QCommandLineOption testOption({"t", "test"}, "test mode");
    parser.addOptions({disableOption, enableOption, stateOption, queryOption, initOption, loggingOption,
                       guiOption, testOption});
    parser.process(*app);

    utils = Utilities::GetInstance();
    Utilities::SetTestMode(parser.isSet(testOption));

    if (parser.isSet(guiOption)) {
        delete app;
        return RunWindowed(argc, argv);
    }

    auto *wrapper = new PxeWrapper();
    const bool loggingSet = parser.isSet(loggingOption);
    if (loggingSet)
        wrapper->setLoggingLevel(parser.value(loggingOption).toInt());
    const bool initSet = parser.isSet(initOption);
    if (initSet)
        wrapper->ReInit(true);

    if (parser.isSet(disableOption)) {
        wrapper->SetPxeEnable(false);
    } else if (parser.isSet(enableOption)) {
        wrapper->SetPxeEnable(true);
    } else if (parser.isSet(stateOption)) {
        wrapper->GetPxeState(true);
    } else if (parser.isSet(queryOption)) {
        PrintInfo(wrapper->queryPxeInfo());
    } else if (!loggingSet && !initSet) {
        PrintInfo(wrapper->queryPxeInfo());
    }
    return 0;
}
