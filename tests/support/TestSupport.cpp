#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>

WorkDir::WorkDir() {
    m_dir.setAutoRemove(true);
}

QByteArray WorkDir::read(const QString& name) const {
    QFile f(file(name));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

void WorkDir::write(const QString& name, const QByteArray& bytes) const {
    QFile f(file(name));
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
}

bool WorkDir::exists(const QString& name) const {
    return QFile::exists(file(name));
}

QString hex(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

QByteArray fromHex(const char* text) {
    return QByteArray::fromHex(QByteArray(text));
}

QString builtProgram(const QString& name) {
    const QString dir = qEnvironmentVariable("DS_BUILD_DIR");
    return QDir(dir.isEmpty() ? QDir::currentPath() : dir).filePath(name);
}
