#pragma once
#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// A temporary working folder for one test, removed afterwards.
class WorkDir {
public:
    WorkDir();
    QString path() const { return m_dir.path(); }
    QString file(const QString& name) const { return m_dir.filePath(name); }
    QByteArray read(const QString& name) const;
    void write(const QString& name, const QByteArray& bytes) const;
    bool exists(const QString& name) const;

private:
    QTemporaryDir m_dir;
};

// "01 05 00 00" style text of bytes, for readable comparisons.
QString hex(const QByteArray& bytes);
QByteArray fromHex(const char* text);
// Path of a program built next to the tests (devsim, dyestation).
QString builtProgram(const QString& name);
