#include "devices/LightMap.h"

#include "common/FileOps.h"
#include "common/RecordFile.h"
#include "common/TextField.h"

void LightMap::setCode(int position, const QString& code) {
    if (position < 1 || position > kPositions || m_codes[size_t(position - 1)] == code)
        return;
    m_codes[size_t(position - 1)] = code;
    emit changed(position);
}

int LightMap::lookup(const QString& code) const {
    QString key = code;
    const qsizetype blank = key.indexOf(QLatin1Char(' '));
    if (blank >= 0)
        key = key.left(blank);
    if (key.isEmpty())
        return 0;
    for (int j = 1; j <= kPositions; ++j)
        if (TextField::trimSpaces(m_codes[size_t(j - 1)]) == key)
            return j;
    return 0;
}

Outcome LightMap::load(const QString& path) {
    for (int j = 1; j <= kPositions; ++j)
        setCode(j, QString());
    if (Outcome o = RecordFile::ensureExists(path); !o)
        return o;
    const RecordFile::Read all = RecordFile::readAll(path, 1);
    if (!all.outcome)
        return all.outcome;
    for (int j = 1; j <= kPositions; ++j)
        setCode(j, TextField::decode(all.bytes.mid((j - 1) * kRecordLength, kRecordLength)));
    return Outcome::success();
}

Outcome LightMap::save(const QString& path) const {
    for (int j = 1; j <= kPositions; ++j)
        if (const QString bad = TextField::unstorable(m_codes[size_t(j - 1)]); !bad.isEmpty())
            return Outcome::failure(
                QStringLiteral("燈號 %1 的代碼含有代碼頁 950 無法儲存的字元 %2, 未存檔")
                    .arg(j)
                    .arg(TextField::listed(bad)));
    QByteArray bytes;
    bytes.reserve(kPositions * kRecordLength);
    for (int j = 1; j <= kPositions; ++j)
        bytes += TextField::encode(TextField::trimSpaces(m_codes[size_t(j - 1)]), kRecordLength);
    // Written whole beside it, synced, renamed over it and the folder synced: a failed save
    // leaves the old map, a saved one survives a power cut.
    if (Outcome o = FileOps::replaceWhole(path, path + QStringLiteral(".new"), bytes); !o)
        return Outcome::failure(QStringLiteral("DYE_LIGHT.txt: %1").arg(o.reason()));
    return Outcome::success();
}
