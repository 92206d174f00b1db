#include "devices/PortChoices.h"

#include "common/TextField.h"
#include "config/SettingsFile.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <QSet>

#include <cerrno>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

QString adapterName(const QString& byIdName) {
    static const QRegularExpression bus(QStringLiteral("^(usb|pci|platform)-"));
    static const QRegularExpression tail(QStringLiteral("-if\\d+(-port\\d+)?$"));
    QString s = byIdName;
    s.remove(bus);
    s.remove(tail);
    return s.replace(QLatin1Char('_'), QLatin1Char(' ')).simplified();
}

QList<PortChoice> serialPortChoices(const QString& byIdDir, const QStringList& devices) {
    QList<PortChoice> out;
    QSet<QString> named; // devices that have a stable path
    const QFileInfoList links =
        QDir(byIdDir).entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& link : links) {
        const QString device = link.canonicalFilePath();
        if (device.isEmpty())
            continue; // an adapter pulled out while its name was still listed
        named.insert(device);
        const QString path = QDir(byIdDir).filePath(link.fileName());
        const QString label = QStringLiteral("%1 (%2)").arg(adapterName(link.fileName()),
                                                            QFileInfo(device).fileName());
        if (TextField::toCp950(path).size() > SettingsFile::kRecordLength)
            out << PortChoice{{}, label + QStringLiteral(" — 路徑超過 100 位元組, set.txt 存不下")};
        else
            out << PortChoice{path, label};
    }
    for (const QString& d : devices) {
        const QFileInfo info(d);
        if (!named.contains(info.canonicalFilePath()))
            out << PortChoice{d, info.fileName()};
    }
    return out;
}

QList<PortChoice> serialPortChoices() {
    QStringList devices;
    for (const QSerialPortInfo& p : QSerialPortInfo::availablePorts())
        devices << p.systemLocation();
    devices.sort();
    return serialPortChoices(QString::fromLatin1(kSerialByIdDir), devices);
}

QString portPermissionProblem(const QString& device) {
    const QFileInfo info(device);
    const QByteArray target = QFile::encodeName(info.canonicalFilePath());
    if (target.isEmpty() || ::access(target.constData(), R_OK | W_OK) == 0 || errno != EACCES)
        return {};
    // The group that may open the port (dialout for Debian's serial ports).
    QString groupName = QStringLiteral("dialout");
    struct stat st {};
    if (::stat(target.constData(), &st) == 0 && (st.st_mode & S_IRWXG) != 0 && st.st_gid != 0)
        if (const group* g = ::getgrgid(st.st_gid))
            groupName = QString::fromLocal8Bit(g->gr_name);
    const passwd* pw = ::getpwuid(::geteuid());
    const QString user = pw ? QString::fromLocal8Bit(pw->pw_name) : QStringLiteral("USER");
    return QStringLiteral("無法開啟連接埠 %1 (沒有權限, permission denied),請把使用者 %2 加入 %3 "
                          "群組 (sudo adduser %2 %3) 後重新登入")
        .arg(device, user, groupName);
}
