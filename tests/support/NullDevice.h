#pragma once

// A character device to write to: a null device node of the test's own where the test may make one
// (as root), else a symbolic link to /dev/null. A fault that replaced the device with a regular file
// then harms only the test's node: root could replace /dev/null itself, anyone else cannot.

#include <QFile>
#include <QString>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

// Makes the device (or the link) at path; returns the device node written to in the end.
inline QString MakeNullDevice(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    if (::mknod(name.constData(), S_IFCHR | 0666, makedev(1, 3)) == 0)
        return path;
    const QString system = QStringLiteral("/dev/null");
    if (::symlink(QFile::encodeName(system).constData(), name.constData()) != 0)
        return {};
    return system;
}
