#include "history/Form5.h"

#include "common/FileOps.h"

#include "config/Language.h"
#include "config/StationSettings.h"
#include "history/Form5Charts.h"
#include "history/HistoryBrowser.h"
#include "history/HistorySet.h"
#include "history/HistoryTableModel.h"
#include "history/WeighingLogDetails.h"

#include <QBuffer>
#include <QComboBox>
#include <QDir>
#include <QFontDatabase>
#include <QFutureWatcher>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QStringListModel>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

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

    // List1 keeps its place: it is the first page of the tabs that stand where it stood.
    Tabs = new QTabWidget(this);
    Tabs->setObjectName(QStringLiteral("Tabs"));
    Tabs->setGeometry(220, 86, 950, 574);
    List1 = new QListView(Tabs);
    List1->setObjectName(QStringLiteral("List1"));
    m_lines = new QStringListModel(this);
    List1->setModel(m_lines);
    List1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Tabs->addTab(List1, QStringLiteral("清單"));
    List1->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    // Ten thousand lines of one height: without this the list measures every line.
    List1->setUniformItemSizes(true);
    List1->setTextElideMode(Qt::ElideNone);
    List1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // A search that turns a line or two into hundreds would otherwise bring the scroll bar
    // in, and the list would lay out and paint every line twice (8 ms for a day's jobs).
    List1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

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
    buildTabs();
}

Form5::~Form5() = default;

// The controls added beside the window's own, with their texts in Traditional Chinese;
// convertNewTexts turns these (and no others) to Simplified.
void Form5::buildTabs() {
    // The range of months sits beside the tabs it fills.
    auto* range = new QWidget(Tabs);
    auto* rangeLabel = new QLabel(QStringLiteral("月份"), range);
    rangeLabel->setObjectName(QStringLiteral("RangeLabel"));
    MonthFrom = new QComboBox(range);
    MonthFrom->setObjectName(QStringLiteral("MonthFrom"));
    auto* toLabel = new QLabel(QStringLiteral("至"), range);
    toLabel->setObjectName(QStringLiteral("ToLabel"));
    MonthTo = new QComboBox(range);
    MonthTo->setObjectName(QStringLiteral("MonthTo"));
    LoadRange = new QPushButton(QStringLiteral("載入範圍"), range);
    LoadRange->setObjectName(QStringLiteral("LoadRange"));
    auto* rangeLayout = new QHBoxLayout(range);
    rangeLayout->setContentsMargins(0, 0, 0, 2);
    MonthFrom->setMinimumWidth(170);
    MonthTo->setMinimumWidth(170);
    for (QWidget* w :
         std::initializer_list<QWidget*>{rangeLabel, MonthFrom, toLabel, MonthTo, LoadRange})
        rangeLayout->addWidget(w);
    Tabs->setCornerWidget(range, Qt::TopRightCorner);
    connect(LoadRange, &QPushButton::clicked, this,
            [this] { loadRange(MonthFrom->currentText(), MonthTo->currentText()); });

    m_table = new HistoryTableModel(this);
    m_table->setBackgroundSorting(true);
    m_details = std::make_shared<const WeighingLogDetails>(
        QDir(m_browser.workDir()).filePath(QStringLiteral("data/weighings.db")),
        QStringLiteral("大天平"), QStringLiteral("小天平"));

    auto* tablePage = new QWidget(Tabs);
    auto* filters = new QHBoxLayout;
    auto* filterLabel = new QLabel(QStringLiteral("篩選"), tablePage);
    filterLabel->setObjectName(QStringLiteral("FilterLabel"));
    CodeFilter = new QComboBox(tablePage);
    CodeFilter->setObjectName(QStringLiteral("CodeFilter"));
    CodeFilter->setMinimumWidth(150);
    CodeFilter->addItem(QStringLiteral("全部代碼"));
    connect(CodeFilter, &QComboBox::activated, this, [this](int i) {
        m_table->setCodeFilter(i <= 0 ? QString() : CodeFilter->itemText(i));
    });
    TextFilter = new QLineEdit(tablePage);
    TextFilter->setObjectName(QStringLiteral("TextFilter"));
    TextFilter->setClearButtonEnabled(true);
    connect(TextFilter, &QLineEdit::textChanged, m_table, &HistoryTableModel::setTextFilter);
    ExportTable = new QPushButton(QStringLiteral("匯出表格"), tablePage);
    ExportTable->setObjectName(QStringLiteral("ExportTable"));
    connect(ExportTable, &QPushButton::clicked, this, &Form5::exportTable);
    ExportTotals = new QPushButton(QStringLiteral("匯出統計"), tablePage);
    ExportTotals->setObjectName(QStringLiteral("ExportTotals"));
    connect(ExportTotals, &QPushButton::clicked, this, &Form5::exportTotals);
    Reprint = new QPushButton(QStringLiteral("重印單據"), tablePage);
    Reprint->setObjectName(QStringLiteral("Reprint"));
    connect(Reprint, &QPushButton::clicked, this, &Form5::reprintSelected);
    filters->addWidget(filterLabel);
    filters->addWidget(CodeFilter);
    filters->addWidget(TextFilter, 1);
    filters->addWidget(ExportTable);
    filters->addWidget(ExportTotals);
    filters->addWidget(Reprint);

    Table = new QTableView(tablePage);
    Table->setObjectName(QStringLiteral("Table"));
    Table->setModel(m_table);
    Table->setSortingEnabled(true);
    Table->sortByColumn(-1, Qt::AscendingOrder); // file order until a header is clicked
    Table->setSelectionBehavior(QAbstractItemView::SelectRows);
    Table->setSelectionMode(QAbstractItemView::SingleSelection);
    Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Table->setWordWrap(false);
    // A year of lines is over a million rows: every row one fixed height, no row numbers.
    Table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    Table->verticalHeader()->setDefaultSectionSize(Table->fontMetrics().height() + 6);
    Table->verticalHeader()->hide();
    Table->horizontalHeader()->setStretchLastSection(true); // no blank strip on the right
    const int widths[] = {130, 150, 60, 40, 120, 80, 80, 80, 70, 70};
    for (int c = 0; c < HistoryTableModel::ColumnCount; ++c)
        Table->setColumnWidth(c, widths[c]);
    TableStatus = new QLabel(tablePage);
    TableStatus->setObjectName(QStringLiteral("TableStatus"));
    auto* tableLayout = new QVBoxLayout(tablePage);
    tableLayout->addLayout(filters);
    tableLayout->addWidget(Table, 1);
    tableLayout->addWidget(TableStatus);
    Tabs->addTab(tablePage, QStringLiteral("表格"));

    auto* chartPage = new QWidget(Tabs);
    Charts = new UsageCharts(chartPage);
    Charts->setObjectName(QStringLiteral("Charts"));
    ExportChart = new QPushButton(QStringLiteral("匯出圖表"), chartPage);
    ExportChart->setObjectName(QStringLiteral("ExportChart"));
    connect(ExportChart, &QPushButton::clicked, this, &Form5::exportChart);
    auto* chartLayout = new QVBoxLayout(chartPage);
    auto* chartButtons = new QHBoxLayout;
    chartButtons->addStretch(1);
    chartButtons->addWidget(ExportChart);
    chartLayout->addLayout(chartButtons);
    chartLayout->addWidget(Charts, 1);
    Tabs->addTab(chartPage, QStringLiteral("圖表"));
    connect(m_table, &QAbstractItemModel::modelReset, this, &Form5::tableChanged);
    // The charts are drawn when their page is looked at, not at every change of the table.
    connect(Tabs, &QTabWidget::currentChanged, this, [this] {
        if (m_chartsStale && Tabs->currentWidget() == Charts->parentWidget())
            drawCharts();
    });
}

// What the table and its exports say, in the station's language.
void Form5::tell(const QString& text) {
    TableStatus->setText(text);
}

// A message's words (not the order numbers, codes or paths put into them) in the
// station's language.
QString Form5::words(const QString& text) const {
    return m_simplified ? ToSimplified(text) : text;
}

// The new controls speak the station's language; the window's own captions keep their
// wording, as they always did.
void Form5::convertNewTexts() {
    const ChineseConverter& c = stationConverter();
    m_simplified = true;
    convertWindowTexts(this,
                       {QStringLiteral("RangeLabel"), QStringLiteral("ToLabel"),
                        QStringLiteral("LoadRange"), QStringLiteral("FilterLabel"),
                        QStringLiteral("ExportTable"), QStringLiteral("ExportTotals"),
                        QStringLiteral("Reprint"), QStringLiteral("ExportChart"),
                        QStringLiteral("ExportLog")},
                       c);
    for (int i = 0; i < Tabs->count(); ++i)
        Tabs->setTabText(i, c.convert(Tabs->tabText(i)));
    CodeFilter->setItemText(0, c.convert(CodeFilter->itemText(0)));
    QStringList headers = m_table->headers(), totals = m_table->totalsHeaders();
    for (QString& h : headers)
        h = c.convert(h);
    for (QString& h : totals)
        h = c.convert(h);
    m_table->setHeaders(headers, totals);
    UsageCharts::Texts t;
    t.byCode = c.convert(t.byCode);
    t.byDay = c.convert(t.byDay);
    t.largest = c.convert(t.largest);
    Charts->setTexts(t);
    m_details = std::make_shared<const WeighingLogDetails>(
        QDir(m_browser.workDir()).filePath(QStringLiteral("data/weighings.db")),
        c.convert(QStringLiteral("大天平")), c.convert(QStringLiteral("小天平")));
}

void Form5::showEvent(QShowEvent* event) {
    if (!m_loaded) {
        m_loaded = true;
        // With Language "1" the captions are assigned from the program's own texts, which
        // hold the same wording as the window shows by design.
        if (m_settings.isExactlyOne(Setting::Language)) {
            Label1->setText(hintText());
            Command1->setText(totalsCaption());
            convertNewTexts();
        }
    }
    refreshMonths();
    QWidget::showEvent(event);
}

void Form5::refreshMonths() {
    const HistoryBrowser::Listing l = m_browser.months();
    List2->clear();
    List2->addItems(l.names);
    const QStringList months = HistorySet::range(l.names, QString(), QStringLiteral("~"));
    for (QComboBox* box : {MonthFrom, MonthTo}) {
        const QString was = box->currentText();
        box->clear();
        box->addItems(months);
        box->setCurrentIndex(was.isEmpty() ? int(months.size()) - 1 : int(months.indexOf(was)));
    }
    if (!l.outcome)
        StatusLabel->setText(words(l.outcome.reason()));
}

void Form5::loadMonth(const QString& name) {
    if (Outcome o = m_browser.beginLoad(name); !o) {
        StatusLabel->setText(words(QStringLiteral("歷史檔讀取失敗 %1").arg(o.reason())));
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
    StatusLabel->setText(words(QStringLiteral("%1: %2 筆"))
                             .arg(m_browser.loadedName())
                             .arg(m_browser.recordCount()));
    Text1->clear();
    showLines(m_browser.jobLines());
    showRange(m_browser.loadedName(), m_browser.loadedName()); // from the month clicked
    loadTable({m_browser.loadedName()});
}

void Form5::runSearch() {
    m_browser.search(Text1->text());
    showLines(m_browser.jobLines());
    applyFound();
}

// The month boxes show the months the table shows (a name that is no month changes none).
void Form5::showRange(const QString& from, const QString& to) {
    for (auto [box, name] : {std::pair{MonthFrom, from}, std::pair{MonthTo, to}})
        if (const int i = box->findText(name); i >= 0)
            box->setCurrentIndex(i);
}

void Form5::loadRange(const QString& from, const QString& to) {
    showRange(from, to);
    const QStringList months = HistorySet::range(m_browser.months().names, from, to);
    if (months.isEmpty()) {
        tell(words(QStringLiteral("沒有 %1 至 %2 的月份檔")).arg(from, to));
        return;
    }
    loadTable(months);
}

bool Form5::tableLoading() const {
    return m_tableLoads > 0;
}

// The months are decoded on a worker thread; only the latest request is shown.
void Form5::loadTable(const QStringList& months) {
    const quint64 request = ++m_tableRequest;
    ++m_tableLoads;
    tell(words(QStringLiteral("讀取中 %1 個月份…")).arg(months.size()));
    using Result = std::shared_ptr<const HistorySet>;
    auto* watcher = new QFutureWatcher<Result>(this);
    connect(watcher, &QFutureWatcher<Result>::finished, this, [this, watcher, request] {
        --m_tableLoads;
        watcher->deleteLater();
        if (request != m_tableRequest)
            return;
        m_table->setSet(watcher->result());
        applyFound();
        const HistorySet& s = *m_table->set();
        const QString code = m_table->codeFilter();
        CodeFilter->clear();
        CodeFilter->addItem(m_simplified ? ToSimplified(QStringLiteral("全部代碼"))
                                         : QStringLiteral("全部代碼"));
        CodeFilter->addItems(m_table->codes());
        // A chosen code stays chosen while the new months hold it.
        const int chosen = code.isEmpty() ? 0 : CodeFilter->findText(code);
        CodeFilter->setCurrentIndex(std::max(0, chosen));
        if (chosen < 0)
            m_table->setCodeFilter(QString());
        if (!s.failures.isEmpty())
            StatusLabel->setText(
                words(QStringLiteral("歷史檔讀取失敗 %1")).arg(s.failures.join(QLatin1Char(' '))));
    });
    const QString folder = QDir(m_browser.workDir()).filePath(HistoryBrowser::folderName());
    watcher->setFuture(HistorySet::loadInBackground(folder, months, m_details));
}

// The jobs found by the search of List1 are the rows of the table, when the table shows
// the month that was searched.
void Form5::applyFound() {
    const HistorySet* s = m_table->set();
    const bool sameMonth =
        s && s->months.size() == 1 && s->months.first() == m_browser.loadedName();
    m_table->setFoundRecords(m_browser.loadedName(), m_browser.matches(),
                             sameMonth && m_browser.searchActive());
}

void Form5::tableChanged() {
    const HistorySet* s = m_table->set();
    if (s)
        tell(words(QStringLiteral("%1: %2 筆訂單, 顯示 %3 行"))
                 .arg(s->label())
                 .arg(s->orders.size())
                 .arg(m_table->rowCount()));
    m_chartsStale = true;
    if (Tabs->currentWidget() == Charts->parentWidget())
        drawCharts();
}

// The charts name their period, so that a picture of them says what it covers.
void Form5::drawCharts() {
    m_chartsStale = false;
    const std::vector<HistoryTableModel::DayUsage> days = m_table->dailyUsage();
    QString period = m_table->set() ? m_table->set()->label() : QString();
    if (!days.empty())
        period += QStringLiteral("  %1 - %2")
                      .arg(days.front().day.toString(QStringLiteral("yyyy/MM/dd")),
                           days.back().day.toString(QStringLiteral("yyyy/MM/dd")));
    Charts->show(m_table->totals(), days, period);
}

// Exports go to the folder "export" of the working folder, written whole and renamed.
Outcome Form5::save(const QString& name, const QByteArray& bytes, QString& path) {
    QDir dir(m_browser.workDir());
    if (!dir.mkpath(QStringLiteral("export")))
        return Outcome::failure(QStringLiteral("無法建立資料夾 export"));
    path = dir.filePath(QStringLiteral("export/") + name);
    // Synced before the rename: on a full disk the old export stays and the failure is said.
    return FileOps::replaceWhole(path, path + QStringLiteral(".new"), bytes);
}

void Form5::exportTable() {
    if (!m_table->set())
        return;
    QString path;
    const Outcome o = save(QStringLiteral("table_%1.csv").arg(m_table->set()->label()),
                           m_table->tableCsv(), path);
    tell(o ? words(QStringLiteral("已匯出 %1 行到 %2")).arg(m_table->rowCount()).arg(path)
           : words(QStringLiteral("匯出失敗 %1").arg(o.reason())));
}

void Form5::exportTotals() {
    if (!m_table->set())
        return;
    QString path;
    const Outcome o = save(QStringLiteral("totals_%1.csv").arg(m_table->set()->label()),
                           m_table->totalsCsv(), path);
    tell(o ? words(QStringLiteral("已匯出統計到 %1")).arg(path)
           : words(QStringLiteral("匯出失敗 %1").arg(o.reason())));
}

void Form5::exportChart() {
    if (!m_table->set())
        return;
    if (m_chartsStale)
        drawCharts();
    QByteArray png;
    {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        Charts->grab().save(&buffer, "PNG");
    }
    QString path;
    const Outcome o =
        png.isEmpty()
            ? Outcome::failure(QStringLiteral("圖表無法轉成 PNG"))
            : save(QStringLiteral("chart_%1.png").arg(m_table->set()->label()), png, path);
    tell(o ? words(QStringLiteral("已匯出圖表到 %1")).arg(path)
           : words(QStringLiteral("匯出失敗 %1").arg(o.reason())));
}

void Form5::reprintSelected() {
    const QModelIndexList rows = Table->selectionModel()->selectedRows();
    if (rows.isEmpty() || !m_table->set()) {
        tell(words(QStringLiteral("請先在表格選擇一個單號")));
        return;
    }
    const HistoryLine& line = m_table->lineAt(rows.first().row());
    const QString orderNo = m_table->set()->orders[size_t(line.order)].orderNo;
    const QByteArray record = m_table->set()->recordBytes(line.order);
    Outcome o = Outcome::failure(QStringLiteral("歷史檔無法讀取"));
    if (!record.isEmpty())
        o = m_reprint ? m_reprint(record) : Outcome::failure(QStringLiteral("沒有列印功能"));
    tell(o ? words(QStringLiteral("已重印單號 %1")).arg(orderNo)
           : words(QStringLiteral("單號 %1 重印失敗 %2")).arg(orderNo, words(o.reason())));
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
