#include "config/FieldMapping.h"

#include "common/FileOps.h"
#include "common/Numbers.h"
#include "common/RecordFile.h"
#include "common/TextField.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cmath>
#include <functional>

namespace {

const char* const kTextCaptions[FieldMapping::kTextCount] = {"欄位總數", "新粉體1染料2", "", "",
                                                             ""};

const char* entryCaptionOf(int i) {
    static const char* const first[] = {"單號",    "輸出位置", "加水量(g)", "助劑代碼",
                                        "重量(g)", "時間",     "B01",       "B02",
                                        "B03",     "B04",      "B05"};
    static const char* const conditions[] = {"1條件欄位", "1條件 = ", "<0><1>",
                                             "2條件欄位", "2條件 = ", "<0><1>",
                                             "3條件欄位", "3條件 = ", "<0><1>"};
    static const char* const dye[] = {"單號",     "備註1(染缸號)", "備註2",    "備註3", "編碼",
                                      "物重(kg)", "浴比",          "總重(kg)", "材質",  "染料代碼",
                                      "配方",     "重量(g)",       "保留"};
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
Outcome readRecords(const QString& path, int n,
                    const std::function<void(int, const QString&)>& put) {
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

// The file's bytes with records 1..n replaced (the rest of the file kept as it is).
Outcome withRecords(const QString& path, int n, const std::function<QString(int)>& get,
                    QByteArray& out) {
    if (Outcome o = RecordFile::ensureExists(path); !o)
        return o;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return Outcome::failure(
            QStringLiteral("%1: %2").arg(QFileInfo(path).fileName(), f.errorString()));
    out = f.readAll();
    if (out.size() < qsizetype(n) * L)
        out.append(qsizetype(n) * L - out.size(), ' ');
    for (int i = 0; i < n; ++i)
        out.replace(qsizetype(i) * L, L, TextField::encode(TextField::trimSpaces(get(i)), L));
    return Outcome::success();
}

// The three files are saved as one: each new file is written whole beside the old one
// ("set2_1.txt.new" ...) and synced; then the marker "set2.saving" says that all three are
// complete; then they are renamed over the old files and the marker is removed. A save cut
// before the marker leaves the old mapping (the next load deletes the new files); one cut
// after it is completed by the next load.
const char* const kFiles[] = {"set2_1.txt", "set2_2.txt", "set2.txt"};
constexpr const char* kMarker = "set2.saving";

QString newFile(const QDir& dir, const char* name) {
    return dir.filePath(QLatin1String(name) + QStringLiteral(".new"));
}

Outcome commitSave(const QDir& dir) {
    for (const char* name : kFiles)
        if (QFileInfo::exists(newFile(dir, name)))
            if (Outcome o = FileOps::rename(newFile(dir, name), dir.filePath(QLatin1String(name)));
                !o)
                return o; // each rename syncs the folder
    if (Outcome o = FileOps::unlink(dir.filePath(QLatin1String(kMarker))); !o)
        return o;
    return FileOps::syncFolder(dir.path());
}

// A save that a crash cut off: completed when its marker was written, undone otherwise.
Outcome finishInterruptedSave(const QDir& dir) {
    if (QFileInfo::exists(dir.filePath(QLatin1String(kMarker))))
        return commitSave(dir);
    for (const char* name : kFiles)
        if (QFileInfo::exists(newFile(dir, name)))
            if (Outcome o = FileOps::unlink(newFile(dir, name)); !o)
                return o;
    return Outcome::success();
}

} // namespace

const char* FieldMapping::textCaption(int index) {
    return index >= 0 && index < kTextCount ? kTextCaptions[index] : "";
}

const char* FieldMapping::entryCaption(int index) {
    return entryCaptionOf(index);
}

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

QString FieldMapping::trimmedEntry(int index) const {
    return TextField::trimSpaces(entry(index));
}

int FieldMapping::fieldCount() const {
    const double n = std::floor(leadingNumber(TextField::trimSpaces(text(0))));
    if (n < 0)
        return 0;
    return n > kMaxField ? kMaxField : int(n);
}

bool FieldMapping::fieldCountBeyondBound() const {
    return std::floor(leadingNumber(TextField::trimSpaces(text(0)))) > kMaxField;
}

QString FieldMapping::importMode() const {
    return TextField::trimSpaces(text(1));
}

int FieldMapping::column(int index) const {
    const double c = std::floor(leadingNumber(trimmedEntry(index)));
    return c < 0 || c > kMaxField + 1 ? 0 : int(c);
}

Outcome FieldMapping::load(const QString& folder) {
    const QDir dir(folder);
    if (Outcome o = finishInterruptedSave(dir); !o)
        return o;
    if (Outcome o = readRecords(dir.filePath(QStringLiteral("set2_1.txt")), kTextCount,
                                [this](int i, const QString& v) { setText(i, v); });
        !o)
        return o;
    if (Outcome o = readRecords(dir.filePath(QStringLiteral("set2_2.txt")), kEntryCount,
                                [this](int i, const QString& v) { setEntry(i, v); });
        !o)
        return o;
    return readRecords(dir.filePath(QStringLiteral("set2.txt")), 1,
                       [this](int, const QString& v) { setQuery(v); });
}

Outcome FieldMapping::save(const QString& folder) const {
    const QDir dir(folder);
    if (Outcome o = finishInterruptedSave(dir); !o)
        return o;
    const std::function<QString(int)> getters[] = {[this](int i) { return text(i); },
                                                   [this](int i) { return entry(i); },
                                                   [this](int) { return query(); }};
    const int counts[] = {kTextCount, kEntryCount, 1};
    for (int f = 0; f < 3; ++f) {
        QByteArray bytes;
        Outcome o =
            withRecords(dir.filePath(QLatin1String(kFiles[f])), counts[f], getters[f], bytes);
        if (o)
            o = FileOps::writeWhole(newFile(dir, kFiles[f]), bytes);
        if (!o) {
            (void)finishInterruptedSave(dir); // no marker yet: takes the new files away again
            return o;
        }
    }
    if (Outcome o = FileOps::writeWhole(dir.filePath(QLatin1String(kMarker)),
                                        QByteArray("set2_1 set2_2 set2\n"));
        !o) {
        (void)FileOps::unlink(dir.filePath(QLatin1String(kMarker)));
        (void)finishInterruptedSave(dir);
        return o;
    }
    if (Outcome o = FileOps::syncFolder(dir.path()); !o)
        return o; // the marker may or may not be on the disk: the next load settles it
    return commitSave(dir);
}
