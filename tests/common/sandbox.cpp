#include "sandbox.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>

bool Sandbox::active()
{
    return !qEnvironmentVariableIsEmpty("BRENLOW_SANDBOX");
}

bool Sandbox::inCi()
{
    return qgetenv("CI") == "true";
}

QString Sandbox::root()
{
    return qEnvironmentVariable("BRENLOW_SANDBOX");
}

QString Sandbox::binDir()
{
    return qEnvironmentVariable("BRENLOW_BIN");
}

QString Sandbox::sourceDir()
{
    return qEnvironmentVariable("BRENLOW_SOURCE");
}

QString Sandbox::doublesDir()
{
    return root() + "/doubles";
}

QString Sandbox::writeDouble(const QString &name, const QString &script)
{
    const QString path = doublesDir() + "/" + name;
    if (!writeFile(path, script.toUtf8()))
        return QString();
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                    | QFileDevice::ReadOther | QFileDevice::ExeOther);
    return path;
}

bool Sandbox::bind(const QString &source, const QString &target)
{
    QDir().mkpath(QFileInfo(target).absolutePath());
    if (!QFileInfo::exists(target))
        writeFile(target, QByteArray());
    return run("mount", {"--bind", source, target}).exitCode == 0;
}

bool Sandbox::writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return f.write(content) == content.size();
}

QByteArray Sandbox::readFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

QProcessEnvironment Sandbox::environment(const QStringList &env)
{
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    for (const QString &entry : env) {
        if (entry.startsWith('-')) {
            e.remove(entry.mid(1));
        } else {
            const int eq = entry.indexOf('=');
            e.insert(entry.left(eq), entry.mid(eq + 1));
        }
    }
    return e;
}

Sandbox::Result Sandbox::collect(QProcess &p, int timeoutMs)
{
    Result r;
    r.started = true;
    if (!p.waitForFinished(timeoutMs)) {
        r.timedOut = true;
        p.kill();
        p.waitForFinished(5000);
    }
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? (p.exitCode() & 0xff) : -1;
    return r;
}

Sandbox::Result Sandbox::run(const QString &program, const QStringList &args, const QByteArray &input,
                             const QStringList &env, int timeoutMs)
{
    QProcess p;
    p.setProcessEnvironment(environment(env));
    p.start(program, args);
    if (!p.waitForStarted(30000))
        return Result();
    if (!input.isEmpty())
        p.write(input);
    p.closeWriteChannel();
    return collect(p, timeoutMs);
}

Sandbox::Result Sandbox::sh(const QString &command, int timeoutMs)
{
    const QString lib = sourceDir() + "/tests/sandbox/lib.sh";
    return run("bash", {"-c", ". \"" + lib + "\"\n" + command}, QByteArray(), QStringList(), timeoutMs);
}
