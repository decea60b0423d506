#pragma once
// C++ side of the test sandbox (tests/sandbox/run-in-sandbox). A QtTest program registered with
// SANDBOX runs inside it: fixed paths (/tmp, /var/log, /etc ...) are private to the run, test
// doubles come first on PATH, and programs can be run and drives made for real.

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

class Sandbox
{
public:
    struct Result {
        bool started = false;
        bool timedOut = false;
        int exitCode = -1;      // the low 8 bits, as a shell sees them
        QByteArray out;
        QByteArray err;
    };

    static bool active();          // running under run-in-sandbox
    static QString root();         // the run's private work folder
    static QString binDir();       // the built programs and service scripts
    static QString sourceDir();
    static QString doublesDir();   // first on PATH

    // Writes an executable test double NAME (a script) first on PATH; returns its path.
    static QString writeDouble(const QString &name, const QString &script);
    // Puts a file over a fixed absolute path (/usr/sbin/dmidecode, /opt/...) by a bind mount.
    static bool bind(const QString &source, const QString &target);

    static bool writeFile(const QString &path, const QByteArray &content);
    static QByteArray readFile(const QString &path);

    // Runs a program (found on PATH) and collects everything. env entries are "NAME=value"
    // (set) or "-NAME" (unset).
    static Result run(const QString &program, const QStringList &args,
                      const QByteArray &input = QByteArray(), const QStringList &env = QStringList(),
                      int timeoutMs = 120000);
    // The environment of a program run here: this process's, with env entries applied.
    static QProcessEnvironment environment(const QStringList &env);
    // Waits for a started process and collects its exit code and output (killed at timeoutMs).
    static Result collect(QProcess &process, int timeoutMs);
    // Runs a bash command line with the sandbox's shell functions (lib.sh) loaded.
    static Result sh(const QString &command, int timeoutMs = 120000);

    static bool inCi();
};

// Skips the calling test where no sandbox exists, or fails it under CI=true.
#define BRENLOW_REQUIRE_SANDBOX()                                                            \
    do {                                                                                     \
        if (!Sandbox::active()) {                                                            \
            if (Sandbox::inCi())                                                             \
                QFAIL("not running inside the test sandbox (CI=true forbids skipping)");     \
            QSKIP("not running inside the test sandbox (run it through ctest as root)");    \
        }                                                                                    \
    } while (0)
