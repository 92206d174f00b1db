#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <initializer_list>
#include <utility>

// History records built byte by byte for the tests, independent of the station's encoder.
struct TestJob {
    QByteArray order;                               // code page 950 bytes
    QByteArray stamp;                               // "2024/03/02 09:05:07"
    QList<std::pair<QByteArray, QByteArray>> lines; // code, actual; line k at index k - 1
};

inline QByteArray padded(const QByteArray& text, int width) {
    QByteArray f = text.left(width);
    f.append(width - f.size(), ' ');
    return f;
}

inline QByteArray historyRecord(const TestJob& j) {
    QByteArray r(1600, ' ');
    r.replace(0, 50, padded(j.order, 50));
    for (int k = 0; k < j.lines.size() && k < 10; ++k) {
        r.replace(80 + 20 * k, 20, padded(j.lines[k].first, 20));
        r.replace(280 + 10 * k, 10, padded(j.lines[k].second.isEmpty() ? QByteArray() : "100", 10));
        r.replace(380 + 10 * k, 10, padded(j.lines[k].second, 10));
    }
    r.replace(480, 30, padded(j.stamp, 30));
    r.replace(510, 8, QByteArray(8, '\0'));
    r.replace(1098, 500, QByteArray(500, '\0'));
    r[1598] = '\r';
    r[1599] = '\n';
    return r;
}

inline QByteArray historyFile(std::initializer_list<TestJob> jobs) {
    QByteArray all;
    for (const TestJob& j : jobs)
        all += historyRecord(j);
    return all;
}
