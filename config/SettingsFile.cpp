#include "config/SettingsFile.h"

#include "common/FileOps.h"
#include "common/Numbers.h"
#include "common/RecordFile.h"
#include "common/TextField.h"

#include <QFile>
#include <cmath>

namespace SettingsFile {

int optionValue(const QString& recordText) {
    const double v = std::round(leadingNumber(recordText));
    return (v == 1.0 || v == 2.0) ? int(v) : 0;
}

Outcome load(const QString& path, StationSettings& settings) {
    if (Outcome o = RecordFile::ensureExists(path, true); !o)
        return o;
    const RecordFile::Read all = RecordFile::readAll(path, 1);
    if (!all.outcome)
        return all.outcome;
    auto record = [&](int n) {
        QByteArray r = all.bytes.mid((n - 1) * kRecordLength, kRecordLength);
        return TextField::decode(r);
    };
    for (int i = 0; i < StationSettings::kTextCount; ++i)
        settings.setText(i, record(i + 1));
    for (int i = 0; i < StationSettings::kOptionCount; ++i)
        settings.setOption(Option(i), optionValue(record(kFirstOptionRecord + i)));
    return Outcome::success();
}

Outcome save(const QString& path, const StationSettings& settings) {
    // A character code page 950 cannot hold would come back as '?' (a password no longer
    // matches): nothing is saved, and the setting and its characters are named.
    for (int i = 0; i < StationSettings::kTextCount; ++i)
        if (const QString bad = TextField::unstorable(settings.text(i)); !bad.isEmpty()) {
            const char* caption = StationSettings::info(i).caption;
            return Outcome::failure(
                QStringLiteral("%1 含有代碼頁 950 無法儲存的字元 %2, 未存檔")
                    .arg(*caption ? QString::fromUtf8(caption)
                                  : QString::fromLatin1(StationSettings::info(i).name),
                         TextField::listed(bad)));
        }
    if (Outcome o = RecordFile::ensureExists(path, true); !o)
        return o;
    // Records are overwritten in place and the rest of the file is kept; the new content
    // is assembled first and replaces the file in one step, so a failed save leaves the
    // old settings whole.
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly))
        return Outcome::failure(QStringLiteral("set.txt: %1").arg(in.errorString()));
    QByteArray bytes = in.readAll();
    in.close();
    const int full = (kFirstOptionRecord + StationSettings::kOptionCount - 1) * kRecordLength;
    if (bytes.size() < full)
        bytes.append(full - bytes.size(), '\0');
    for (int i = 0; i < StationSettings::kTextCount; ++i)
        TextField::put(bytes, i * kRecordLength, kRecordLength,
                       TextField::trimSpaces(settings.text(i)));
    for (int i = 0; i < StationSettings::kOptionCount; ++i)
        TextField::put(bytes, (kFirstOptionRecord - 1 + i) * kRecordLength, kRecordLength,
                       QString::number(settings.option(Option(i))));
    // Written whole beside it (owner only), synced, renamed over it and the folder synced.
    if (Outcome o = FileOps::replaceWhole(path, path + QStringLiteral(".new"), bytes, 0600); !o)
        return Outcome::failure(QStringLiteral("set.txt: %1").arg(o.reason()));
    return Outcome::success();
}

} // namespace SettingsFile
