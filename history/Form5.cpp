#include "history/Form5.h"

#include "config/StationSettings.h"
#include "history/HistoryBrowser.h"

#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QStringListModel>
#include <QTimer>

QString Form5::hintText() {
    return QStringLiteral(
        "輸入搜索編碼 ENTER 搜索當頁結果  輸入## + 日期 等於搜尋當天 例如 ##02 ##15");
}

QString Form5::totalsCaption() {
    return QStringLiteral("統計當前用量");
}

Form5::Form5(HistoryBrowser& browser, StationSettings& settings, QWidget* parent)
    : QWidget(parent), m_browser(browser), m_settings(settings) {
    setObjectName(QStringLiteral("Form5"));
    setWindowTitle(QStringLiteral("歷史資料"));
    resize(1180, 700);

    Label1 = new QLabel(hintText(), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(10, 10, 900, 28);

    Text1 = new QLineEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setGeometry(10, 44, 300, 32);
    connect(Text1, &QLineEdit::returnPressed, this, &Form5::runSearch);

    Command1 = new QPushButton(totalsCaption(), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(320, 42, 150, 36);
    connect(Command1, &QPushButton::clicked, this, &Form5::showTotals);

    Command2 = new QPushButton(QStringLiteral("EXIT"), this);
    Command2->setObjectName(QStringLiteral("Command2"));
    Command2->setGeometry(480, 42, 110, 36);
    connect(Command2, &QPushButton::clicked, this, &QWidget::hide);

    // The weighing log's export; shown only while the log is on.
    ExportLog = new QPushButton(QStringLiteral("匯出計量紀錄"), this);
    ExportLog->setObjectName(QStringLiteral("ExportLog"));
    ExportLog->setGeometry(600, 42, 150, 36);
    ExportLog->hide();
    connect(ExportLog, &QPushButton::clicked, this, &Form5::exportLogClicked);

    List2 = new QListWidget(this);
    List2->setObjectName(QStringLiteral("List2"));
    List2->setGeometry(10, 86, 200, 574);
    connect(List2, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { loadMonth(item->text()); });

    List1 = new QListView(this);
    List1->setObjectName(QStringLiteral("List1"));
    m_lines = new QStringListModel(this);
    List1->setModel(m_lines);
    List1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    List1->setGeometry(220, 86, 950, 574);
    List1->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    // Ten thousand lines of one height: without this the list measures every line.
    List1->setUniformItemSizes(true);
    List1->setTextElideMode(Qt::ElideNone);
    List1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    StatusLabel = new QLabel(this);
    StatusLabel->setObjectName(QStringLiteral("StatusLine"));
    StatusLabel->setGeometry(10, 666, 900, 26);

    Progress = new QProgressBar(this);
    Progress->setObjectName(QStringLiteral("Progress"));
    Progress->setGeometry(920, 668, 250, 22);
    Progress->hide();
    m_loadStep = new QTimer(this);
    m_loadStep->setSingleShot(true);
    m_loadStep->setInterval(0);
    connect(m_loadStep, &QTimer::timeout, this, &Form5::continueLoading);
}

void Form5::showEvent(QShowEvent* event) {
    if (!m_loaded) {
        m_loaded = true;
        // With Language "1" the captions are assigned from the program's own texts, which
        // hold the same wording as the window shows by design.
        if (m_settings.isExactlyOne(Setting::Language)) {
            Label1->setText(hintText());
            Command1->setText(totalsCaption());
        }
    }
    refreshMonths();
    QWidget::showEvent(event);
}

void Form5::refreshMonths() {
    const HistoryBrowser::Listing l = m_browser.months();
    List2->clear();
    List2->addItems(l.names);
    if (!l.outcome)
        StatusLabel->setText(l.outcome.reason());
}

void Form5::loadMonth(const QString& name) {
    if (Outcome o = m_browser.beginLoad(name); !o) {
        StatusLabel->setText(QStringLiteral("歷史檔讀取失敗 %1").arg(o.reason()));
        return;
    }
    continueLoading();
}

// A month is decoded a thousand records at a time, returning to the event loop between
// steps so that the weighing timers keep their pace; a month of one step shows at once.
void Form5::continueLoading() {
    if (!m_browser.loadStep(kRecordsPerStep)) {
        Progress->setRange(0, int(m_browser.loadTotal()));
        Progress->setValue(int(m_browser.loadDone()));
        Progress->show();
        m_loadStep->start();
        return;
    }
    Progress->hide();
    StatusLabel->setText(
        QStringLiteral("%1: %2 筆").arg(m_browser.loadedName()).arg(m_browser.recordCount()));
    Text1->clear();
    showLines(m_browser.jobLines());
}

void Form5::runSearch() {
    m_browser.search(Text1->text());
    showLines(m_browser.jobLines());
}

void Form5::showTotals() {
    showLines(m_browser.totals());
}

void Form5::showLines(const QStringList& lines) {
    m_lines->setStringList(lines);
}

void Form5::showExportLog() {
    ExportLog->show();
}

QString Form5::chosenMonthFile() const {
    const QListWidgetItem* item = List2->currentItem();
    return item ? item->text() : QString();
}

void Form5::setStatusText(const QString& text) {
    StatusLabel->setText(text);
}
