#include "history/HistoryBrowser.h"

#include "common/RecordFile.h"
#include "common/TextField.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>

namespace {

using namespace HistoryLayout;

// Appends a field to the line as it stands, padded to its width in characters, and
// returns where its text lies with blanks removed at both ends. Most fields are plain
// ASCII: those go straight into the line, without the code-page decoder and without a
// string of their own, which is what keeps a month of ten thousand records quick to load.
std::pair<qsizetype, qsizetype> appendField(QString& line, const char* record, int offset,
                                            int width) {
    const Field f = field(record, offset, width);
    const qsizetype start = line.size();
    if (f.ascii())
        line.append(QLatin1StringView(f.p, f.n));
    else
        line.append(f.text());
    qsizetype end = line.size();
    if (end - start < width)
        line.append(QString(width - (end - start), QLatin1Char(' ')));
    qsizetype b = start;
    while (b < end && line.at(b) == QLatin1Char(' '))
        ++b;
    while (end > b && line.at(end - 1) == QLatin1Char(' '))
        --end;
    return {b, end - b};
}

} // namespace

HistoryEntry HistoryEntry::decode(const QByteArray& record) {
    Q_ASSERT(record.size() >= kLength);
    const char* r = record.constData();
    HistoryEntry e;
    QString& line = e.jobLine;
    line.reserve(110 + kLines * 40);
    auto span = [](std::pair<qsizetype, qsizetype> p) {
        return Span{qint16(p.first), qint16(p.second)};
    };
    e.m_order = span(appendField(line, r, kOrderNo, kOrderNoWidth));
    appendField(line, r, kSpare1, kSpareWidth);
    const qsizetype stamp = line.size();
    appendField(line, r, kStampText, kStampTextWidth);
    e.m_stamp = Span{qint16(stamp), qint16(line.size() - stamp)};
    appendField(line, r, kSpare2, kSpareWidth);
    appendField(line, r, kSpare3, kSpareWidth);
    for (int k = 1; k <= kLines; ++k) {
        e.m_code[size_t(k)] = span(appendField(line, r, code(k), kCodeWidth));
        appendField(line, r, target(k), kTargetWidth);
        const auto [a, n] = appendField(line, r, actual(k), kActualWidth);
        e.Actual[size_t(k)] = Decimal::parse(QString::fromRawData(line.constData() + a, n));
        e.codeId[size_t(k)] = -1;
    }
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
    if (Outcome o = beginLoad(name); !o)
        return o;
    while (!loadStep(m_pending->total))
        ;
    return Outcome::success();
}

Outcome HistoryBrowser::beginLoad(const QString& name) {
    const QString path = QDir(m_workDir).filePath(folderName() + QLatin1Char('/') + name);
    const QFileInfo info(path);
    // Checked first: the record-file helper would create a missing file, and the browser
    // never changes the history folder.
    if (info.isDir())
        return Outcome::failure(QStringLiteral("%1 是資料夾,不是歷史檔").arg(name));
    if (!info.exists())
        return Outcome::failure(QStringLiteral("%1 不存在").arg(name));
    RecordFile::Read all = RecordFile::readAll(path, HistoryEntry::kLength);
    if (!all.outcome)
        return all.outcome;

    auto p = std::make_unique<PendingLoad>();
    p->name = name;
    p->bytes = std::move(all.bytes);
    p->total = p->bytes.size() / HistoryEntry::kLength;
    p->records.reserve(size_t(p->total) + 1);
    p->records.emplace_back(); // record k at index k
    p->codeIds.reserve(1024);
    m_pending = std::move(p);
    return Outcome::success();
}

bool HistoryBrowser::loadStep(qsizetype maxRecords) {
    if (!m_pending)
        return true;
    PendingLoad& p = *m_pending;
    const qsizetype end = std::min(p.total, p.done + std::max<qsizetype>(maxRecords, 1));
    for (; p.done < end; ++p.done) {
        p.records.push_back(HistoryEntry::decode(QByteArray::fromRawData(
            p.bytes.constData() + p.done * HistoryEntry::kLength, HistoryEntry::kLength)));
        HistoryEntry& e = p.records.back();
        // Each distinct code gets a number, so that the totals add by number.
        for (int j = 1; j <= HistoryEntry::kLines; ++j) {
            const QStringView code = e.Code(j);
            if (code.isEmpty())
                continue;
            const auto [it, added] = p.codeIds.try_emplace(
                std::u16string_view(reinterpret_cast<const char16_t*>(code.utf16()),
                                    size_t(code.size())),
                qint32(p.codes.size()));
            if (added)
                p.codes.emplace_back(code.toString());
            e.codeId[size_t(j)] = it->second;
        }
    }
    if (p.done < p.total)
        return false;
    m_records = std::move(p.records);
    m_codes = std::move(p.codes);
    m_loadedName = p.name;
    m_matches.clear();
    m_searchActive = false;
    m_pending.reset();
    return true;
}

void HistoryBrowser::cancelLoad() {
    m_pending.reset();
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
        const bool match = byDay ? e.StampText().mid(8, 2) == day : e.OrderNo() == wanted;
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
    // One slot per code, in the order the codes were first met in the source.
    std::vector<qsizetype> slotOf(m_codes.size(), -1);
    std::vector<std::pair<qint32, Decimal>> usage;
    auto add = [&](const HistoryEntry& e) {
        for (int j = 1; j <= HistoryEntry::kLines; ++j) {
            const qint32 id = e.codeId[size_t(j)];
            if (id < 0)
                continue;
            qsizetype& slot = slotOf[size_t(id)];
            if (slot < 0) {
                slot = qsizetype(usage.size());
                usage.emplace_back(id, Decimal());
            }
            usage[size_t(slot)].second += e.Actual[size_t(j)];
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
        lines.append(QStringLiteral("%1   %2   %3(KG)")
                         .arg(s + 1)
                         .arg(m_codes[size_t(usage[s].first)], kilograms(usage[s].second)));
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
