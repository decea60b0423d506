#pragma once
// One setup question block of the AMI tool's export: its fields, its offered options and the one
// marked current with "*", and the block's lines as read (written back on import).

#include <QObject>
#include <QString>
#include <QStringList>

class SceData : public QObject
{
    Q_OBJECT
public:
    explicit SceData(const QString &block, QObject *parent = nullptr);
    explicit SceData(const QStringList &lines, QObject *parent = nullptr);

    void ParseData(const QStringList &lines);

    QString setupQuestion;
    QString helpString;
    QString token;
    QString offset;
    QString width;
    QString biosDefault;
    QStringList options;
    QString currentOption;
    QStringList rawLines;
};
