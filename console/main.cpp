// The console: the full-screen program the technician uses on a unit.

#include "logging.h"
#include "pxeclient.h"
#include "utils.h"

#include <QApplication>
#include <QDebug>

int main(int argc, char *argv[])
{
    Utils::InitLogger(2);
    Logging::GetInstance(7, false);
    QApplication app(argc, argv);
    const QString self = QString::fromLocal8Bit(argv[0]);
    qDebug() << self;
    // The remote-view instance keeps its own log and tells others it runs.
    const bool remoteView = self.contains(QLatin1String("vnc"));
    if (remoteView) {
        Logging::logFileName = QStringLiteral("/var/log/vnc-pxe-client.log");
        Utils::ExecuteShell(QStringLiteral("touch /tmp/vnc-pxe"), 60000);
    }
    Logging(2) << "Starting PxeClient";
    int result;
    {
        PxeClient window;
        // Exit ends the program by closing the last window; a reboot ends it explicitly.
        QObject::connect(&window, &PxeClient::ended, &app, [](int code) { QCoreApplication::exit(code); });
        window.show();
        result = app.exec();
    }
    Logging(2) << "Stopped PxeClient";
    if (remoteView)
        Utils::ExecuteShell(QStringLiteral("rm -rf /tmp/vnc-pxe"), 60000);
    return result;
}
