#include "config/FieldMapping.h"

#include "common/Numbers.h"
#include "common/RecordFile.h"
#include "common/TextField.h"

#include <QDir>
#include <cmath>
#include <functional>

namespace {

const char* const kTextCaptions[FieldMapping::kTextCount] = {"欄位總數", "新粉體1染料2", "", "", ""};

const char* entryCaptionOf(int i) {
    static const char* const first[] = {"單號", "輸出位置", "加水量(g)", "助劑代碼", "重量(g)", "時間",
                                        "B01", "B02", "B03", "B04", "B05"};
    static const char* const conditions[] = {"1條件欄位", "1條件 = ", "<0><1>", "2條件欄位", "2條件 = ",
                                             "<0><1>", "3條件欄位", "3條件 = ", "<0><1>"};
    static const char* const dye[] = {"單號", "備註1(染缸號)", "備註2", "備註3", "編碼", "物重(kg)", "浴比",
                                      "總重(kg)", "材質", "染料代碼", "配方", "重量(g)", "保留"};
    if (i >= 0 && i <= 10)
        return first[i];
    if (i >= 20 && i <= 28)
        return conditions[i - 20];
    if (i == FieldMapping::TableName)
        return "表單名稱";
    if (i >= 40 && i <= 52)
        return dye[i - 40];
    return "";
}

constexpr int L = FieldMapping::kRecordLength;

// Reads records 1..n of a 100-byte record file, trimmed; records past the end read empty.
Outcome readRecords(const QString& path, int n, const std::function<void(int, const QString&)>& put) {
    if (Outcome o = RecordFile::ensureExists(path); !o)
        return o;
    const RecordFile::Read all = RecordFile::readAll(path, L);
    if (!all.outcome)
        return all.outcome;
    for (int i = 0; i < n; ++i) {
        const QByteArray rec = all.bytes.mid(qsizetype(i) * L, L);
        put(i, rec.size() == L ? TextField::decode(rec) : QString());
    }
    return Outcome::success();
}

Outcome writeRecords(const QString& path, int n, const std::function<QString(int)>& get) {
    for (int i = 0; i < n; ++i)
        if (Outcome o = RecordFile::write(path, L, i + 1, TextField::encode(TextField::trimSpaces(get(i)), L)); !o)
            return o;
    return Outcome::success();
}

} // namespace

const char* FieldMapping::textCaption(int index) {
    return index >= 0 && index < kTextCount ? kTextCaptions[index] : "";
}

const char* FieldMapping::entryCaption(int index) { return entryCaptionOf(index); }

void FieldMapping::setText(int index, const QString& value) {
    if (m_texts[size_t(index)] != value) {
        m_texts[size_t(index)] = value;
        emit textChanged(index);
    }
}

void FieldMapping::setEntry(int index, const QString& value) {
    if (m_entries[size_t(index)] != value) {
        m_entries[size_t(index)] = value;
        emit entryChanged(index);
    }
}

void FieldMapping::setQuery(const QString& value) {
    if (m_query != value) {
        m_query = value;
        emit queryChanged();
    }
}

QString FieldMapping::trimmedEntry(int index) const { return TextField::trimSpaces(entry(index)); }

int FieldMapping::fieldCount() const {
    const double n = std::floor(leadingNumber(TextField::trimSpaces(text(0))));
    if (n < 0)
        return 0;
    return n > kMaxField ? kMaxField : int(n);
}

bool FieldMapping::fieldCountBeyondBound() const {
    return std::floor(leadingNumber(TextField::trimSpaces(text(0)))) > kMaxField;
}

QString FieldMapping::importMode() const { return TextField::trimSpaces(text(1)); }

int FieldMapping::column(int index) const {
    const double c = std::floor(leadingNumber(trimmedEntry(index)));
    return c < 0 || c > kMaxField + 1 ? 0 : int(c);
}

Outcome FieldMapping::load(const QString& folder) {
    const QDir dir(folder);
    if (Outcome o = readRecords(dir.filePath(QStringLiteral("set2_1.txt")), kTextCount,
                                [this](int i, const QString& v) { setText(i, v); });
        !o)
        return o;
    if (Outcome o = readRecords(dir.filePath(QStringLiteral("set2_2.txt")), kEntryCount,
                                [this](int i, const QString& v) { setEntry(i, v); });
        !o)
        return o;
    return readRecords(dir.filePath(QStringLiteral("set2.txt")), 1, [this](int, const QString& v) { setQuery(v); });
}

Outcome FieldMapping::save(const QString& folder) const {
    const QDir dir(folder);
    if (Outcome o = writeRecords(dir.filePath(QStringLiteral("set2_1.txt")), kTextCount,
                                 [this](int i) { return text(i); });
        !o)
        return o;
    if (Outcome o = writeRecords(dir.filePath(QStringLiteral("set2_2.txt")), kEntryCount,
                                 [this](int i) { return entry(i); });
        !o)
        return o;
    return writeRecords(dir.filePath(QStringLiteral("set2.txt")), 1, [this](int) { return query(); });
}
