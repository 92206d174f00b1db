#include "devices/Ticket.h"
#include "devices/TicketPrinter.h"
#include "devices/TicketQueue.h"
#include "tests/support/TestSupport.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocale>
#include <QPrinter>
#include <QPrinterInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSemaphore>
#include <QStandardPaths>
#include <QTest>
#include <QThread>

#include <atomic>
#include <memory>
#include <mutex>

namespace {

std::array<TicketLine, Ticket::kLines> threeLines() {
    std::array<TicketLine, Ticket::kLines> l;
    l[0] = {QStringLiteral(" RED 01 "), QStringLiteral("12.34"), QStringLiteral("12.35")};
    l[1] = {QStringLiteral("YEL-2"), QStringLiteral("1500"), QStringLiteral("1500.1")};
    l[2] = {QStringLiteral("藍色ABCDEFGHIJKLMNOP"), QStringLiteral("0.5"),
            QStringLiteral("1234567.89")};
    return l;
}

const QDateTime kAt(QDate(2024, 3, 2), QTime(9, 5, 7));

struct Word {
    double x = 0, y = 0;
    QString text;
};

// The words of a PDF with their positions in points, as pdftotext finds them.
QList<Word> pdfWords(const QString& pdf) {
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), pdf, QStringLiteral("-")});
    if (!p.waitForFinished(30000))
        return {};
    const QString html = QString::fromUtf8(p.readAllStandardOutput());
    static const QRegularExpression re(
        QStringLiteral(R"re(<word xMin="([\d.]+)" yMin="([\d.]+)"[^>]*>([^<]*)</word>)re"));
    QList<Word> out;
    for (auto it = re.globalMatch(html); it.hasNext();) {
        const auto m = it.next();
        out.append({m.captured(1).toDouble(), m.captured(2).toDouble(), m.captured(3)});
    }
    return out;
}

const Word* find(const QList<Word>& words, const QString& text) {
    for (const Word& w : words)
        if (w.text == text)
            return &w;
    return nullptr;
}

} // namespace

class TestTicket : public QObject {
    Q_OBJECT
private slots:
    void threeLineOrderItems();
    void dateIsFixedInEveryLocale();
    void pdfRendering();
    void noDefaultPrinterFails();
    void queuePrintsOffThreadInOrder();
    void closeLeavesAStuckPrinterBehind();
};

void TestTicket::threeLineOrderItems() {
    const QList<TicketItem> items = Ticket::items(QStringLiteral(" 單號A1 "), threeLines(), kAt);
    QCOMPARE(items.size(), 1 + 10 * 4 + 1);
    QCOMPARE(items.first(), (TicketItem{QStringLiteral("單號A1"), 20, 100, 100}));
    const char* code[] = {"RED 01", "YEL-2", "藍色ABCDEFGHIJKLMNOP"};
    const char* target[] = {"12.34", "1500", "0.5"};
    const char* actual[] = {"12.35", "1500.1", "1234567.89"};
    for (int i = 0; i < 10; ++i) {
        const int y = 550 + 300 * i;
        const bool filled = i < 3;
        QCOMPARE(items[1 + 4 * i],
                 (TicketItem{filled ? QString::fromUtf8(code[i]) : QString(), 14, 100, y}));
        QCOMPARE(items[2 + 4 * i],
                 (TicketItem{filled ? QString::fromUtf8(target[i]) : QString(), 14, 1300, y}));
        QCOMPARE(items[3 + 4 * i],
                 (TicketItem{filled ? QString::fromUtf8(actual[i]) : QString(), 14, 2200, y}));
        QCOMPARE(items[4 + 4 * i], (TicketItem{QString(34, QLatin1Char('-')), 14, 0, y + 120}));
    }
    QCOMPARE(items.last(), (TicketItem{Ticket::dateText(kAt), 14, 100, 3550}));
    QVERIFY(items.last().text.contains(QStringLiteral("05")));
}

// Run by ctest also under zh_TW.UTF-8 and en_US.UTF-8 (DS_TEST_LOCALE names the locale).
void TestTicket::dateIsFixedInEveryLocale() {
    const QByteArray expected = qgetenv("DS_TEST_LOCALE");
    if (!expected.isEmpty())
        QCOMPARE(QLocale::system().name(), QString::fromLatin1(expected));
    QCOMPARE(Ticket::dateText(kAt), QStringLiteral("2024/03/02 09:05:07"));
    QCOMPARE(Ticket::dateText(QDateTime(QDate(2024, 12, 31), QTime(23, 59, 59))),
             QStringLiteral("2024/12/31 23:59:59"));
}

void TestTicket::pdfRendering() {
    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
        QSKIP("pdftotext (poppler-utils) is not installed");
    WorkDir dir;
    const QString pdf = dir.file(QStringLiteral("ticket.pdf"));
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    QVERIFY(
        TicketPrinter::print(Ticket::items(QStringLiteral("單號A1"), threeLines(), kAt), printer)
            .ok());
    QVERIFY(QFileInfo(pdf).size() > 0);

    const QList<Word> words = pdfWords(pdf);
    QVERIFY2(!words.isEmpty(), "pdftotext found no text");
    for (const char* t :
         {"單號A1", "RED", "01", "YEL-2", "1500.1", "12.34", "藍色ABCDEFGHIJKLMNOP", "1234567.89"})
        QVERIFY2(find(words, QString::fromUtf8(t)), t);
    int rules = 0;
    for (const Word& w : words)
        rules += w.text == QString(34, QLatin1Char('-'));
    QCOMPARE(rules, 10);

    // Twips become points (20 twips to the point): columns 1200 and 900 twips apart,
    // lines 300 twips apart.
    const Word* code1 = find(words, QStringLiteral("RED"));
    const Word* target1 = find(words, QStringLiteral("12.34"));
    const Word* actual1 = find(words, QStringLiteral("12.35"));
    const Word* code2 = find(words, QStringLiteral("YEL-2"));
    QVERIFY(code1 && target1 && actual1 && code2);
    QVERIFY2(qAbs(target1->x - code1->x - 60.0) < 1.5,
             qPrintable(QString::number(target1->x - code1->x)));
    QVERIFY(qAbs(actual1->x - target1->x - 45.0) < 1.5);
    QVERIFY2(qAbs(code2->y - code1->y - 15.0) < 1.0,
             qPrintable(QString::number(code2->y - code1->y)));
}

void TestTicket::noDefaultPrinterFails() {
    // The test machines have no print spooler: the ticket is refused with a reason.
    if (!QPrinterInfo::defaultPrinter().isNull())
        QSKIP("this machine has a default printer");
    const Outcome o = TicketPrinter::printOnDefaultPrinter(
        Ticket::items(QStringLiteral("A1"), threeLines(), kAt));
    QVERIFY(!o.ok());
    QVERIFY(!o.reason().isEmpty());
}

// The queue hands the ticket over and returns while the printer is still busy; the
// tickets are printed on the queue's thread, one at a time, in order, each into a real PDF;
// each outcome, failures with their reason, comes back on the caller's thread, in order.
// Tickets still queued when the queue closes are printed before it is gone.
void TestTicket::queuePrintsOffThreadInOrder() {
    WorkDir dir;
    QThread* const caller = QThread::currentThread();
    QSemaphore printer; // the printer takes a ticket only when the test lets it
    std::mutex mx;
    QStringList printed;
    std::atomic<int> inside = 0, most = 0;
    std::atomic<bool> offThread = true;
    const auto output = [&](const QList<TicketItem>& items) {
        printer.acquire();
        offThread = offThread && QThread::currentThread() != caller;
        most = std::max(most.load(), ++inside);
        const QString orderNo = items.first().text;
        QPrinter pdf(QPrinter::HighResolution);
        pdf.setOutputFormat(QPrinter::PdfFormat);
        pdf.setOutputFileName(dir.file(orderNo + QStringLiteral(".pdf")));
        Outcome o = TicketPrinter::print(items, pdf);
        if (orderNo == QLatin1String("B2"))
            o = Outcome::failure(QStringLiteral("卡紙"));
        {
            std::lock_guard lk(mx);
            printed << orderNo;
        }
        --inside;
        return o;
    };
    QStringList done;
    {
        TicketQueue queue(output);
        connect(&queue, &TicketQueue::done, this, [&](const QString& orderNo, const Outcome& o) {
            QCOMPARE(QThread::currentThread(), caller);
            done << orderNo + QLatin1Char(':') + (o ? QString() : o.reason());
        });
        for (const char* n : {"A1", "B2", "C3"})
            queue.print(QString::fromLatin1(n),
                        Ticket::items(QString::fromLatin1(n), threeLines(), kAt));
        QTest::qWait(50);
        {
            std::lock_guard lk(mx);
            QVERIFY(printed.isEmpty()); // nothing printed yet, and no caller waited for it
        }
        printer.release(3);
        QVERIFY(queue.waitIdle(20000));
        QTRY_COMPARE(done.size(), 3);
        QCOMPARE(done, QStringList({"A1:", "B2:卡紙", "C3:"}));

        queue.print(QStringLiteral("D4"), Ticket::items(QStringLiteral("D4"), threeLines(), kAt));
        printer.release(1);
    } // closed with D4 possibly still queued
    QCOMPARE(printed, QStringList({"A1", "B2", "C3", "D4"}));
    QCOMPARE(most.load(), 1);
    QVERIFY(offThread);
    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
        QSKIP("pdftotext (poppler-utils) is not installed");
    const QList<Word> words = pdfWords(dir.file(QStringLiteral("C3.pdf")));
    for (const char* t : {"C3", "YEL-2", "1234567.89"})
        QVERIFY2(find(words, QString::fromUtf8(t)), t);
}

// A printer that does not answer: the close waits its time, not for ever, and the tickets
// not begun by then are not printed afterwards.
void TestTicket::closeLeavesAStuckPrinterBehind() {
    auto gate = std::make_shared<QSemaphore>();
    auto calls = std::make_shared<std::atomic<int>>(0);
    const QList<TicketItem> items = Ticket::items(QStringLiteral("A1"), threeLines(), kAt);
    QElapsedTimer t;
    {
        TicketQueue queue(
            [gate, calls](const QList<TicketItem>&) {
                ++*calls;
                gate->acquire();
                return Outcome::success();
            },
            200);
        queue.print(QStringLiteral("A1"), items);
        queue.print(QStringLiteral("B2"), items);
        QTRY_COMPARE(calls->load(), 1);
        t.start();
    }
    QVERIFY2(t.elapsed() < 2000, qPrintable(QString::number(t.elapsed())));
    gate->release(2); // the printer lets the thread go
    QTest::qWait(200);
    QCOMPARE(calls->load(), 1);
}

QTEST_MAIN(TestTicket)
#include "test_ticket.moc"
