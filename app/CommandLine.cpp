#include "app/CommandLine.h"

#include <QDir>

CommandLine CommandLine::parse(const QStringList& args) {
    CommandLine c;
    const QString workdir = QStringLiteral("--workdir");
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args.at(i);
        if (i > 0 && a == QLatin1String("--version")) {
            c.version = true;
        } else if (i > 0 && a == workdir) {
            if (i + 1 >= args.size() || args.at(i + 1).isEmpty())
                c.error = QStringLiteral("--workdir needs a folder");
            else
                c.workDir = args.at(++i);
        } else if (i > 0 && a.startsWith(workdir + QLatin1Char('='))) {
            c.workDir = a.mid(workdir.size() + 1);
            if (c.workDir.isEmpty())
                c.error = QStringLiteral("--workdir needs a folder");
        } else {
            c.rest << a;
        }
    }
    return c;
}

Outcome enterWorkDir(const QString& dir) {
    QString path = dir;
    if (path == QLatin1String("~") || path.startsWith(QLatin1String("~/")))
        path = QDir::homePath() + path.mid(1);
    if (!QDir().mkpath(path))
        return Outcome::failure(QStringLiteral("%1: cannot create the folder").arg(path));
    if (!QDir::setCurrent(path))
        return Outcome::failure(QStringLiteral("%1: cannot enter the folder").arg(path));
    return Outcome::success();
}
