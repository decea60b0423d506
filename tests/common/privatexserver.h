#pragma once
// Window tests run on a real X server (the xcb platform, as on a unit): Xvfb on a
// display of their own, started inside the sandbox before the application object exists and
// ended after it. Outside the sandbox the test runs as it is (and its cases refuse to run).

#include "sandbox.h"

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <QtTest>

template <class TestObject>
int runOnPrivateXServer(int argc, char *argv[], const QString &display)
{
    QProcess xvfb;
    if (Sandbox::active()) {
        xvfb.start("Xvfb", {display, "-screen", "0", "1024x768x24", "-dpi", "96", "-nolisten", "tcp"});
        xvfb.waitForStarted(10000);
        for (int i = 0; i < 200 && !QFile::exists("/tmp/.X11-unix/X" + display.mid(1)); ++i)
            QThread::msleep(50);
        qputenv("DISPLAY", display.toLatin1());
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    int rc;
    {
        QApplication app(argc, argv);
        TestObject test;
        rc = QTest::qExec(&test, argc, argv);
    }
    if (xvfb.state() == QProcess::Running) {
        xvfb.terminate();
        xvfb.waitForFinished(5000);
    }
    return rc;
}
