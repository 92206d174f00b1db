#include "jobs/JobCheck.h"

#include "common/FileOps.h"
#include "common/Numbers.h"
#include "common/TextField.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString withoutTrailingSpaces(const QString& text) {
    qsizetype e = text.size();
    while (e > 0 && text.at(e - 1) == QLatin1Char(' '))
        --e;
    return text.left(e);
}

// A text field's fault, if any: characters code page 950 cannot hold, or more bytes
// than the field has (trailing spaces are padding and may be cut).
std::optional<JobFault> fieldFault(int line, const QString& field, const QString& value,
                                   int width) {
    if (const QString bad = TextField::unstorable(value); !bad.isEmpty())
        return JobFault{
            line, field, value,
            QStringLiteral("含有代碼頁 950 無法儲存的字元 %1").arg(TextField::listed(bad))};
    const qsizetype bytes = TextField::toCp950(withoutTrailingSpaces(value)).size();
    if (bytes > width)
        return JobFault{line, field, value,
                        QStringLiteral("長 %1 位元組, 超過欄位的 %2 位元組").arg(bytes).arg(width)};
    return std::nullopt;
}

} // namespace

QString shownValue(const QString& value) {
    // The status line is one line: a long value is shown by its start.
    constexpr int kShown = 60;
    return value.size() > kShown ? value.left(kShown) + QStringLiteral("…") : value;
}

QString JobFault::text() const {
    const QString where = line > 0 ? QStringLiteral("第 %1 行%2").arg(line).arg(field) : field;
    return QStringLiteral("%1「%2」%3").arg(where, shownValue(value), why);
}

bool isGramAmount(const QString& weight) {
    const QString w = TextField::trimSpaces(weight);
    int digits = 0, points = 0;
    for (const QChar c : w) {
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            ++digits;
        else if (c == QLatin1Char('.'))
            ++points;
        else
            return false;
    }
    // The sequencer weighs to the millionth: a smaller amount would be 0 to it.
    return digits > 0 && points <= 1 && Decimal::parse(w) > Decimal();
}

std::optional<JobFault> checkJob(const JobRecord& j) {
    struct Field {
        const char* name;
        const QString& value;
        int width;
    };
    const Field own[] = {{"單號", j.OrderNo, 50},    {"出料位置", j.OutputPos, 10},
                         {"加水量", j.WaterAdd, 10}, {"B02", j.B02, 10},
                         {"B03", j.B03, 10},         {"B04", j.B04, 10},
                         {"B05", j.B05, 500}};
    for (const Field& f : own)
        if (auto fault = fieldFault(0, QString::fromUtf8(f.name), f.value, f.width))
            return fault;
    for (int i = 1; i <= JobRecord::kLines; ++i) {
        const auto n = size_t(i);
        if (auto f = fieldFault(i, QStringLiteral("代碼"), j.Code[n], 20))
            return f;
        if (auto f = fieldFault(i, QStringLiteral("B01"), j.B01[n], 50))
            return f;
        if (auto f = fieldFault(i, QStringLiteral("重量"), j.Weight[n], 10))
            return f;
        // A line is weighed when it has a code: its weight must be an amount to pour.
        if (!TextField::trimSpaces(j.Code[n]).isEmpty() && !isGramAmount(j.Weight[n]))
            return JobFault{i, QStringLiteral("重量"), j.Weight[n],
                            QStringLiteral("不是大於 0 的克數 (只能是數字與一個小數點)")};
    }
    return std::nullopt;
}

std::optional<JobFault> checkOrder(const QList<JobRecord>& jobs) {
    for (qsizetype k = 0; k < jobs.size(); ++k)
        if (auto f = checkJob(jobs[k])) {
            if (f->line > 0)
                f->line += int(k) * JobRecord::kLines;
            return f;
        }
    return std::nullopt;
}

QString refusedJobsFile(const QString& queueFile) {
    const QFileInfo f(queueFile);
    return f.dir().filePath(f.completeBaseName() + QStringLiteral(".refused"));
}

Outcome setAsideRefused(const QString& file, const QByteArray& record, const QString& reason,
                        const QDateTime& at) {
    const QByteArray name = QFile::encodeName(file);
    const bool existed = QFileInfo::exists(file);
    const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0)
        return FileOps::failure(file, errno);
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return FileOps::failure(file, errno);
    const qint64 size = st.st_size;
    if (size >= record.size()) {
        QByteArray tail(record.size(), '\0');
        if (::pread(fd, tail.data(), size_t(tail.size()), off_t(size - record.size())) ==
                ssize_t(tail.size()) &&
            tail == record)
            return Outcome::success();
    }
    const QByteArray entry =
        at.toString(Qt::ISODate).toUtf8() + ' ' + reason.toUtf8() + '\n' + record;
    if (Outcome o = FileOps::writeAt(fd, file, entry, size); !o)
        return o;
    if (Outcome o = FileOps::sync(fd, file); !o)
        return o;
    return existed ? Outcome::success() : FileOps::syncFolder(QFileInfo(file).path());
}
