// bootwatch: the LAN boot request daemon. "bootwatch" (or any first argument other than the
// kill word) watches /tmp/pxe until it is stopped; "bootwatch --kill" (also -k, k, kill) asks a
// running daemon to stop and ends at once.
#include "filewatcher.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    FileWatcher watcher;
    if (watcher.finished())
        return watcher.exitStatus();
    return app.exec();
}
