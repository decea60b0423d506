// gptinspect: prints the partition sectors of a saved GPT (".gptb", made by sgdisk -b, or a
// drive's first sectors, or the drive itself) and the size of the drive it came from. Reads the
// headers and the entry array only, and writes nothing.

#include "gptinspector.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2 || args.at(1) == QLatin1String("-h") || args.at(1) == QLatin1String("--help")) {
        if (args.size() >= 2) {
            printf("usage: gptinspect FILE\n"
                   "Prints the partition sectors of a saved GPT (sgdisk -b's \".gptb\" file, a drive's first\n"
                   "sectors, or a drive), the size of the drive it was taken from, its last usable and last\n"
                   "used sector. A table whose header does not add up is named and not listed.\n");
            return 0;
        }
        qDebug() << "Please provide file name to examine";
        return 1;
    }
    const QString name = args.at(1);
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    // A block device reports no size: only files can be too short.
    if (QFileInfo(name).isFile() && !GptInspector::Accepts(size_t(file.size()))) {
        qDebug() << name << "does not appear to be a gpt backup file";
        return 0;
    }
    const GptLayout::Table table = GptLayout::ReadTable([&file](uint64_t offset, size_t length, std::vector<uint8_t> &out) {
        out.assign(length, 0);
        if (!file.seek(qint64(offset)))
            return false;
        return length == 0 || file.read(reinterpret_cast<char *>(out.data()), qint64(length)) == qint64(length);
    });
    file.close();
    if (!table.ok) {
        qDebug().noquote() << QStringLiteral("\"%1\" does not appear to be a gpt backup file: %2").arg(name, QString::fromStdString(table.error));
        return 0;
    }
    const std::string out = GptInspector::Inspect(table);
    fwrite(out.data(), 1, out.size(), stdout);
    fflush(stdout);
    return 0;
}
