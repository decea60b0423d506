#pragma once
// Captures what a piece of in-process code writes to a file descriptor (standard output or error).

#include <QByteArray>
#include <QTemporaryFile>

#include <cstdio>
#include <functional>
#include <unistd.h>

inline QByteArray captureFd(int fd, const std::function<void()> &work)
{
    QTemporaryFile file;
    if (!file.open())
        return QByteArray("<capture failed>");
    fflush(nullptr);
    const int saved = dup(fd);
    dup2(file.handle(), fd);
    work();
    fflush(nullptr);
    dup2(saved, fd);
    close(saved);
    file.seek(0);
    return file.readAll();
}
