// gptinspect: prints the partition sectors of a GPT table backup file (".gptb", made by
// sgdisk -b) and the size of the drive it came from. Reads the file only.

#include "gptinspector.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDebug>
#include <QFile>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2 || args.at(1) == QLatin1String("-h") || args.at(1) == QLatin1String("--help")) {
        if (args.size() >= 2) {
            printf("usage: gptinspect FILE\n"
                   "Prints the partition sectors of a GPT table backup file (sgdisk -b, \".gptb\"),\n"
                   "the size of the drive it was taken from, its last usable and last used sector.\n");
            return 0;
        }
        qDebug() << "Please provide file name to examine";
        return 1;
    }
    const QString name = args.at(1);
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray bytes = file.readAll();
    file.close();
    if (!GptInspector::Accepts(size_t(bytes.size()))) {
        qDebug() << name << "does not appear to be a gpt backup file";
        return 0;
    }
    const std::string out = GptInspector::Inspect(reinterpret_cast<const uint8_t *>(bytes.constData()),
                                                  size_t(bytes.size()));
    fwrite(out.data(), 1, out.size(), stdout);
    fflush(stdout);
    return 0;
}
