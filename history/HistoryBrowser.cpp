#include "history/HistoryBrowser.h"

#include "common/RecordFile.h"
#include "common/TextField.h"

#include <QDir>
#include <QFileInfo>

namespace {

// Field offsets of a history record.
constexpr int kOrderNo = 0, kSpare1 = 50, kSpare2 = 60, kSpare3 = 70, kCode = 80, kTarget = 280,
              kActual = 380, kStampText = 480;

// A field decoded as it stands, padded to its width in characters as the list shows it.
// Most fields are plain ASCII: those skip the code-page decoder, which is the costly part
// of loading a month of ten thousand records.
QString rawField(const char* record, int offset, int width) {
    const char* p = record + offset;
    int n = 0;
    bool ascii = true;
    for (; n < width && p[n] != '\0'; ++n)
        ascii = ascii && static_cast<unsigned char>(p[n]) < 0x80;
    QString s = ascii ? QString::fromLatin1(p, n) : TextField::decodeRaw(QByteArray(p, n));
    if (s.size() < width)
        s.append(QString(width - s.size(), QLatin1Char(' ')));
    return s;
}

} // namespace

HistoryEntry HistoryEntry::decode(const QByteArray& record) {
    Q_ASSERT(record.size() >= kLength);
    const char* r = record.constData();
    HistoryEntry e;
    const QString order = rawField(r, kOrderNo, 50);
    e.OrderNo = TextField::trimSpaces(order);
    e.StampText = rawField(r, kStampText, 30);
    QString line;
    line.reserve(110 + kLines * 40);
    line += order;
    line += rawField(r, kSpare1, 10);
    line += e.StampText;
    line += rawField(r, kSpare2, 10);
    line += rawField(r, kSpare3, 10);
    for (int k = 1; k <= kLines; ++k) {
        const QString code = rawField(r, kCode + 20 * (k - 1), 20);
        const QString actual = rawField(r, kActual + 10 * (k - 1), 10);
        line += code;
        line += rawField(r, kTarget + 10 * (k - 1), 10);
        line += actual;
        e.Code[size_t(k)] = TextField::trimSpaces(code);
        e.Actual[size_t(k)] = Decimal::parse(actual);
    }
    e.jobLine = std::move(line);
    return e;
}

HistoryBrowser::HistoryBrowser(QString workDir) : m_workDir(std::move(workDir)) {}

HistoryBrowser::Listing HistoryBrowser::months() const {
    Listing l;
    QDir dir(m_workDir);
    if (!dir.mkpath(folderName())) {
        l.outcome = Outcome::failure(QStringLiteral("無法建立資料夾 %1").arg(folderName()));
        return l;
    }
    QDir data(dir.filePath(folderName()));
    if (!data.isReadable()) {
        l.outcome = Outcome::failure(QStringLiteral("無法讀取資料夾 %1").arg(folderName()));
        return l;
    }
    l.names = data.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                             QDir::Name);
    return l;
}

Outcome HistoryBrowser::load(const QString& name) {
    const QString path = QDir(m_workDir).filePath(folderName() + QLatin1Char('/') + name);
    const QFileInfo info(path);
    // Checked first: the record-file helper would create a missing file, and the browser
    // never changes the history folder.
    if (info.isDir())
        return Outcome::failure(QStringLiteral("%1 是資料夾,不是歷史檔").arg(name));
    if (!info.exists())
        return Outcome::failure(QStringLiteral("%1 不存在").arg(name));
    const RecordFile::Read all = RecordFile::readAll(path, HistoryEntry::kLength);
    if (!all.outcome)
        return all.outcome;

    const qsizetype n = all.bytes.size() / HistoryEntry::kLength;
    std::vector<HistoryEntry> records;
    records.reserve(size_t(n) + 1);
    records.emplace_back(); // record k at index k
    for (qsizetype k = 0; k < n; ++k)
        records.push_back(HistoryEntry::decode(
            QByteArray::fromRawData(all.bytes.constData() + k * HistoryEntry::kLength, HistoryEntry::kLength)));
    m_records = std::move(records);
    m_loadedName = name;
    m_matches.clear();
    m_searchActive = false;
    return Outcome::success();
}

void HistoryBrowser::search(const QString& text) {
    m_matches.clear();
    const QString wanted = TextField::trimSpaces(text);
    m_searchActive = !wanted.isEmpty();
    if (!m_searchActive)
        return;
    const bool byDay = text.startsWith(QLatin1String("##"));
    // The day is compared as two characters: "##2" matches nothing, "##" nothing at all.
    const QString day = text.mid(2, 2);
    for (qsizetype k = 1; k <= recordCount(); ++k) {
        const HistoryEntry& e = m_records[size_t(k)];
        const bool match = byDay ? QStringView(e.StampText).mid(8, 2) == day : e.OrderNo == wanted;
        if (match)
            m_matches.push_back(k);
    }
}

QStringList HistoryBrowser::jobLines() const {
    QStringList lines;
    if (m_searchActive) {
        lines.reserve(m_matches.size());
        for (qsizetype k : m_matches)
            lines.append(m_records[size_t(k)].jobLine);
    } else if (!m_records.empty()) {
        lines.reserve(qsizetype(m_records.size()) - 1);
        for (size_t k = 1; k < m_records.size(); ++k)
            lines.append(m_records[k].jobLine);
    }
    return lines;
}

QStringList HistoryBrowser::totals() const {
    std::vector<std::pair<QString, Decimal>> usage; // in the order the codes were first met
    QHash<QString, size_t> slotOf;
    auto add = [&](const HistoryEntry& e) {
        for (int j = 1; j <= HistoryEntry::kLines; ++j) {
            const QString& code = e.Code[size_t(j)];
            if (code.isEmpty())
                continue;
            auto it = slotOf.constFind(code);
            if (it == slotOf.constEnd()) {
                slotOf.insert(code, usage.size());
                usage.emplace_back(code, e.Actual[size_t(j)]);
            } else {
                usage[*it].second += e.Actual[size_t(j)];
            }
        }
    };
    if (m_searchActive) {
        for (qsizetype k : m_matches)
            add(m_records[size_t(k)]);
    } else {
        for (size_t k = 1; k < m_records.size(); ++k)
            add(m_records[k]);
    }
    QStringList lines;
    lines.reserve(qsizetype(usage.size()));
    for (size_t s = 0; s < usage.size(); ++s)
        lines.append(QStringLiteral("%1   %2   %3(KG)").arg(s + 1).arg(usage[s].first, kilograms(usage[s].second)));
    return lines;
}

QString HistoryBrowser::kilograms(Decimal grams) {
    // Millionths of a gram are billionths of a kilogram.
    constexpr qint64 kPerKg = Decimal::kScale * 1000;
    const qint64 u = grams.units();
    if (u == 0)
        return QStringLiteral("0");
    const bool neg = u < 0;
    const quint64 a = neg ? quint64(-(u + 1)) + 1 : quint64(u);
    QString s = QString::number(a / kPerKg);
    if (const quint64 frac = a % kPerKg) {
        QString f = QString::number(frac).rightJustified(9, QLatin1Char('0'));
        while (f.endsWith(QLatin1Char('0')))
            f.chop(1);
        s += QLatin1Char('.') + f;
    }
    return neg ? QLatin1Char('-') + s : s;
}
