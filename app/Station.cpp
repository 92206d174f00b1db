#include "app/Station.h"

#include "app/DiagnosticsWindow.h"
#include "app/ExtensionsWindow.h"
#include "app/FitToScreen.h"
#include "app/IntakeParts.h"
#include "app/QueuedTickets.h"
#include "app/ScanRouter.h"
#include "common/BoundTimer.h"
#include "common/EventLog.h"
#include "config/Form1.h"
#include "config/Language.h"
#include "config/SettingsFile.h"
#include "devices/BalanceLink.h"
#include "devices/FixedScanner.h"
#include "devices/Form6.h"
#include "devices/LightBus.h"
#include "devices/PortChoices.h"
#include "devices/QtSerialPort.h"
#include "devices/TicketPrinter.h"
#include "devices/TicketQueue.h"
#include "devices/Zeroing.h"
#include "history/Form5.h"
#include "history/HistoryBrowser.h"
#include "jobs/UndoStore.h"
#include "plant/LogExport.h"
#include "plant/MqttLink.h"
#include "plant/PlantEvents.h"
#include "plant/WeighingLog.h"
#include "recipes/Form4.h"
#include "recipes/RecipeEditor.h"
#include "station/Form3.h"
#include "station/Form7.h"
#include "station/QueueCommands.h"
#include "station/UndoPutBack.h"
#include "weighing/PickCheck.h"
#include "weighing/PortNames.h"
#include "weighing/Sequencer.h"
#include "weighing/Startup.h"
#include "weighing/StatusColours.h"
#include "weighing/WeighingPanelModel.h"

#include "intake/Queries.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <tuple>

namespace {
// Secondary windows stand at 100 twips from the top and the left of the screen.
constexpr int kTwips100 = 100 * 96 / 1440;
} // namespace

Station::Station(StationOptions options)
    : m_dir(options.workDir), m_clock(options.clock ? options.clock : &m_systemClock),
      m_monthlyFolder(options.monthlyFolder), m_dbLoginTimeout(options.dbLoginTimeoutSecs),
      m_dbStatementTimeout(options.dbStatementTimeoutSecs),
      m_ticketOutput(options.ticketOutput ? options.ticketOutput
                                          : &TicketPrinter::printOnDefaultPrinter) {
    SerialPortFactory make = options.portFactory;
    if (!make)
        make = [] { return std::make_unique<QtSerialPort>(); };
    m_portFactory = make;
    m_comm1 = make();
    m_comm2 = make();
    m_comm3 = make();
    m_lightBus = std::make_unique<LightBus>(m_settings, *m_comm3, m_timers.Timer5, m_status);

    // The status line's messages with their time; a port is named by what is on it.
    m_eventLog = std::make_unique<EventLog>(m_status, *m_clock, [this](const QString& port) {
        return portOwner(port, m_settings, m_weighing);
    });
    m_panel = std::make_unique<WeighingPanelModel>(
        m_weighing, m_readings, [this] { return m_sequencer ? m_sequencer->TolSteps() : 2; },
        [this] { return m_settings.isExactlyOne(Setting::Language); },
        [this] { return m_clock->now(); });
    connect(&m_weighing, &WeighingModel::changed, m_panel.get(), &WeighingPanelModel::update);
    connect(&m_readings, &BalanceReadings::changed, m_panel.get(), &WeighingPanelModel::update);
    m_undo = std::make_unique<UndoStore>(m_dir.path());

    m_form1 = std::make_unique<Form1>(m_settings);
    m_form1->setPortChoices([] { return serialPortChoices(); });
    m_form3 = std::make_unique<Form3>(m_weighing, m_readings, m_status, *m_panel);
    connect(m_eventLog.get(), &EventLog::added, m_form3.get(), [this](EventLog::Event e) {
        e.plain = shown(e.plain); // the plain words in the shown script
        m_form3->addEvent(e);
    });

    Form3& f3 = *m_form3;
    connect(&f3, &Form3::openSettings, this, [this] { showWindow(m_form1.get()); });
    connect(&f3, &Form3::runClicked, this, [this] { m_status.report(m_run.runCommand()); });
    connect(&f3, &Form3::stopClicked, this, [this] { m_status.report(m_run.stopCommand()); });
    connect(&m_run, &RunControl::backgroundChanged, &f3, &Form3::setBackground);
    connect(m_form1.get(), &Form1::saveClicked, this, &Station::saveSettings);
    connect(m_form1.get(), &Form1::mainWindowClicked, this, [this] { showWindow(m_form3.get()); });

    auto bind = [this](TickTimer& t, const char* name, std::function<void()> tick) {
        auto* b = new BoundTimer(t, std::move(tick), m_form3.get());
        b->setObjectName(QLatin1String(name));
        m_boundTimers.push_back(b);
    };
    bind(m_timers.Timer1, "Timer1", [this] { tickTimer1(); });
    bind(m_timers.Timer2, "Timer2", [this] { tickTimer2(); });
    bind(m_timers.Timer3, "Timer3", [this] { tickTimer3(); });
    bind(m_timers.Timer4, "Timer4", [this] { m_form3->keepBarcodeFocus(); });
    bind(m_timers.Timer5, "Timer5", [this] { m_lightBus->tick(); });
    // The light bus's pacing: the next frame goes out once the line is free.
    bind(m_lightBus->pacer(), "LightPacer", [this] {
        if (Outcome o = m_lightBus->pump(); !o)
            m_status.report(QStringLiteral("燈號未送出: %1").arg(o.reason()));
    });
    bind(m_timers.Timer6, "Timer6", [this] { tickTimer6(); });

    wireDevices();
    wireWeighing();
    wireQueue();
    wireIntake();
    wireHistory();
    wireScans();
    for (QWidget* w : std::initializer_list<QWidget*>{m_form1.get(), m_intake->form2.get(),
                                                      m_form4.get(), m_form5.get(), m_form6.get()})
        fitToScreen(w);
    wireExtensions();
}

// A barcode scanned into a setting, a light position, the field mapping, any control of the
// main window but its order entry or a button of the other windows goes to that order entry
// instead; in the order search entry and the recipe editor's boxes a scan replaces what the
// box held.
void Station::wireScans() {
    m_scans =
        std::make_unique<ScanRouter>([this](const QString& code) { m_form3->enterOrder(code); });
    m_scans->guardAllControls(m_form1.get(), {m_form1->searchBox()});
    m_scans->guardAllControls(m_intake->form2.get());
    m_scans->guardAllControls(m_form6.get());
    // In the main window no list, button, check box or panel ever acts on a scan; the
    // order entry keeps its keys.
    m_scans->guardAllControls(m_form3.get(), {m_form3->Text2});
    // Nor do the buttons of the box/barrel dialog, open beside the weighing, of the settings
    // and of the recipe editor, nor an open menu (its Enter would run the chosen command).
    m_scans->guardAllControls(m_form7.get());
    m_scans->guardAllControls(m_form4.get());
    m_scans->replaceOnScan(m_form1->searchBox());
    m_scans->replaceOnScan(m_form4.get());
    qApp->installEventFilter(m_scans.get());
}

// ---- devices: balance link (Timer1), zeroing (Timer6), light map window (Form6)

void Station::wireDevices() {
    m_balanceLink =
        std::make_unique<BalanceLink>(m_settings, *m_comm1, *m_comm2, m_readings, m_status);
    m_zeroing = std::make_unique<Zeroing>(*m_comm1, m_timers.Timer1, m_timers.Timer6, m_status);
    // The light map is held for the whole run: the sequencer looks codes up in it, the
    // light map window edits it.
    const QString mapFile = path(QStringLiteral("DYE_LIGHT.txt"));
    if (Outcome o = m_lightMap.load(mapFile); !o)
        m_status.report(QStringLiteral("燈號檔讀取失敗 %1").arg(o.reason()));
    m_form6 = std::make_unique<Form6>(m_lightMap, m_lightBus.get(), m_status, mapFile);
    m_form3->setLightBus(m_lightBus.get());
    connect(m_form3.get(), &Form3::openLightMap, this, [this] { showWindow(m_form6.get()); });
    connect(m_form3.get(), &Form3::zeroRequested, m_zeroing.get(), &Zeroing::request);
    connect(m_form3.get(), &Form3::zeroRequested, m_panel.get(), &WeighingPanelModel::zeroStarted);
    connect(m_zeroing.get(), &Zeroing::finished, m_balanceLink.get(),
            &BalanceLink::restartAfterPause);
    connect(m_zeroing.get(), &Zeroing::finished, m_panel.get(), &WeighingPanelModel::zeroFinished);
}

void Station::tickTimer1() {
    m_balanceLink->tick();
}

void Station::tickTimer6() {
    m_zeroing->tick();
}

// ---- weighing: sequencer (Timer2), history, ticket

void Station::wireWeighing() {
    m_tickets = std::make_unique<TicketQueue>(m_ticketOutput);
    m_ticketService = std::make_unique<QueuedTickets>(*m_tickets, *m_clock);
    connect(m_tickets.get(), &TicketQueue::done, this,
            [this](const QString& orderNo, const Outcome& o) {
                if (!o)
                    m_status.report(QStringLiteral("單號 %1 未列印: %2").arg(orderNo, o.reason()));
            });
    m_sequencer = std::make_unique<Sequencer>(
        Sequencer::Parts{m_weighing, m_readings, m_lightMap, *m_lightBus, m_settings, m_run,
                         *m_clock, m_status, m_dir.path(), m_ticketService.get()});
}

void Station::tickTimer2() {
    if (m_scanner)
        m_scanner->tick();
    m_sequencer->tick();
}

// ---- queue commands, box/barrel dialog (Form7), status colours (Timer3), recipe editor (Form4)

void Station::wireQueue() {
    Form3& f3 = *m_form3;
    m_queue = std::make_unique<QueueCommands>(
        QueueCommands::Files{path(QStringLiteral("QUICK.txt")),
                             path(QStringLiteral("START_DISPEN.txt")),
                             path(QStringLiteral("START_DISPEN2.txt"))},
        m_weighing, m_settings, *m_comm3, *m_lightBus, m_status);
    connect(m_queue.get(), &QueueCommands::recipeListChanged, &f3, &Form3::setRecipeEntries);
    connect(&f3, &Form3::refreshRecipes, m_queue.get(), &QueueCommands::refresh);
    // The queue commands put every refusal and failure on the status line themselves.
    connect(&f3, &Form3::queueRecipe, this,
            [this](int p) { m_queue->queue(p, m_form3->recipeEntry(p)); });
    connect(&f3, &Form3::deleteQueued, m_queue.get(), &QueueCommands::deleteQueued);
    connect(&f3, &Form3::cancelAll, m_queue.get(), &QueueCommands::cancelAll);

    m_colours = std::make_unique<StatusColours>(m_weighing);

    // The box/barrel dialog is modeless: the weighing goes on behind it.
    m_form7 = std::make_unique<Form7>(m_weighing);
    connect(m_form7.get(), &Form7::undoRequested, this, &Station::undoBoxChoice);
    connect(&f3, &Form3::boxBarrelRequested, this, [this] {
        m_form7->show();
        m_form7->raise();
        m_form7->activateWindow();
    });

    m_recipes = std::make_unique<RecipeEditor>(path(QStringLiteral("QUICK.txt")),
                                               path(QStringLiteral("QUICK2.txt")), m_status);
    m_form4 = std::make_unique<Form4>(*m_recipes, m_status);
    connect(m_recipes.get(), &RecipeEditor::storeChanged, this, &Station::refreshRecipeList);
    connect(&f3, &Form3::openRecipes, this, [this] { showWindow(m_form4.get()); });

    // Removals keep what they remove; the undo buttons put the last one back.
    m_queue->setUndo(m_undo.get());
    m_recipes->setUndo(m_undo.get());
    connect(m_undo.get(), &UndoStore::changed, this, [this] {
        m_form3->setUndoText(m_undo->lastWhat());
        m_form4->setUndoText(m_undo->lastWhat());
    });
    connect(&f3, &Form3::undoRequested, this, &Station::undoRemoval);
    connect(m_form4.get(), &Form4::undoRequested, this, &Station::undoRemoval);
    m_putBack =
        std::make_unique<UndoPutBack>(m_dir.path(), path(QStringLiteral("QUICK.txt")), m_status,
                                      UndoPutBack::Reload{[this] {
                                                              refreshRecipeList();
                                                              return m_recipes->refill();
                                                          },
                                                          [this] { m_queue->reloadQueueList(); }});
    connect(m_undo.get(), &UndoStore::restored, this,
            [this](const QString& file, int records, const QString& what) {
                m_putBack->restored(file, records, what);
            });
}

void Station::tickTimer3() {
    m_colours->tick();
    m_form3->showColours(*m_colours);
}

// ---- order intake: database, field mapping (Form2), search, polling

void Station::wireIntake() {
    m_intake =
        std::make_unique<IntakeParts>(m_status, m_settings, *m_clock, m_dir.path(), m_monthlyFolder,
                                      m_dbLoginTimeout, m_dbStatementTimeout);
    IntakeParts& in = *m_intake;
    Form1& f1 = *m_form1;
    in.form2 = std::make_unique<Form2>(in.mapping);
    Form2& f2 = *in.form2;

    // Form1.Text1 shows every query sent; the search runs its text when no direct query applies.
    connect(&f1, &Form1::queryEdited, &in.queryBox, &QueryBox::setText);
    connect(&in.queryBox, &QueryBox::changed, &f1,
            [&in, &f1] { f1.setQueryText(in.queryBox.text()); });
    connect(&in.grid, &StagingGrid::changed, &f1, [&in, &f1] { f1.showGrid(in.grid.cells()); });
    connect(&in.form2Grid, &StagingGrid::changed, &f2,
            [&in, &f2] { f2.showGrid(in.form2Grid.cells()); });
    for (FaultMonitor* f : {&in.faults.search, &in.faults.polling, &in.faults.sql})
        connect(f, &FaultMonitor::changed, &f1, [&in, &f1] { f1.setFaultText(in.faults.text()); });
    connect(&f1, &Form1::gridClicked, this, [&in](int column, int row) {
        in.queryBox.setText(QStringLiteral(" <Y> ") + QString::number(column) +
                            QStringLiteral("  <X> ") + QString::number(row));
    });

    // The two entry points of the order search.
    connect(&f1, &Form1::searchEntered, &in.form1Search, &OrderSearch::enter);
    connect(&in.form1Search, &OrderSearch::rowsRead, &f1, &Form1::clearSearchIf);
    connect(m_form3.get(), &Form3::orderEntered, this, [this](const QString& text) {
        if (!pickScan(text))
            m_intake->form3Search.enter(text);
    });
    connect(&in.form3Search, &OrderSearch::finished, this, [this](bool wrote) {
        if (wrote)
            refreshRecipeList();
    });

    // Form2, the field mapping.
    connect(&f1, &Form1::mappingClicked, this, [this] { showWindow(m_intake->form2.get()); });
    connect(&f2, &Form2::runSqlClicked, &in.workbench, &SqlWorkbench::run);
    connect(&f2, &Form2::generateClicked, this, [&in, &f1] {
        if (const auto q = Queries::generated(in.mapping, f1.searchText()))
            in.mapping.setQuery(*q);
    });
    connect(&f2, &Form2::saveClicked, this, [this] {
        if (Outcome o = m_intake->mapping.save(m_dir.path()); !o)
            m_status.report(QStringLiteral("欄位對應存檔失敗 %1").arg(o.reason()));
    });

    f1.bindTimer2(in.Timer2, [&in] { in.polling.tick(); });
}

// The intake's part of Form1's load: Form2 reads its mapping files, both grids take the
// field count, a claim left by a crash is completed, and a PollSeconds above 0 switches the
// polling on (always once a second).
void Station::startIntake() {
    IntakeParts& in = *m_intake;
    if (Outcome o = in.mapping.load(m_dir.path()); !o)
        m_status.report(QStringLiteral("欄位對應讀取失敗 %1").arg(o.reason()));
    const int cols = in.mapping.fieldCount() + 2;
    in.grid.setSize(1, cols);
    in.grid.notify();
    in.form2Grid.setSize(1, cols);
    in.form2Grid.notify();
    // A claim of the polling cut off by a crash: its order goes in now.
    in.polling.recover();
    if (m_settings.number(Setting::PollSeconds) > 0) {
        in.Timer2.setInterval(1000);
        in.Timer2.setEnabled(true);
    }
}

// ---- history browser (Form5)

void Station::wireHistory() {
    m_history = std::make_unique<HistoryBrowser>(m_dir.path());
    m_form5 = std::make_unique<Form5>(*m_history, m_settings);
    m_form5->setReprint([this](const QByteArray& record) {
        return m_ticketService->print(HistoryRecord::decode(record));
    });
    connect(m_form3.get(), &Form3::openHistory, this, [this] { showWindow(m_form5.get()); });
}

// ---- language conversion

// With Language exactly "1" every window's listed texts are converted once, as each window
// loads (all windows load at start-up); the history window keeps its wording.
// A message of the station, in the script the windows show: the one place where the
// status line's words are turned to Simplified.
QString Station::shown(const QString& text) const {
    return m_settings.isExactlyOne(Setting::Language) ? ToSimplified(text) : text;
}

void Station::applyLanguage() {
    if (!m_settings.isExactlyOne(Setting::Language))
        return;
    const ChineseConverter& converter = stationConverter();
    const std::vector<WindowTexts> windows = {
        {m_form1.get(), Form1::simplifiedTexts()},
        {m_intake ? m_intake->form2.get() : nullptr, Form2::simplifiedTexts()},
        {m_form3.get(), Form3::simplifiedTexts()},
        {m_form4.get(), Form4::simplifiedTexts()},
        {m_form7.get(), Form7::simplifiedTexts()},
        {m_extWindow.get(), ExtensionsWindow::simplifiedTexts()},
        {m_diagWindow.get(), {QStringLiteral("Save")}},
        {m_form6.get(), {}}, // its title only: its controls keep their wording
    };
    if (Outcome o = simplifyWindows(windows, converter); !o) {
        m_status.report(o.reason());
        if (!converter.ok())
            return;
    }
    for (QString& caption : m_weighing.Label3)
        caption = converter.convert(caption);
    m_form3->showReadings();
    // The recipe editor's status line shows the station's messages in the shown script.
    if (auto* label = m_form4->findChild<QLabel*>(QStringLiteral("StatusLine"))) {
        disconnect(&m_status, &StatusLine::reported, label, nullptr);
        connect(&m_status, &StatusLine::reported, label,
                [this, label](const QString& text) { label->setText(shown(text)); });
        label->setText(shown(label->text()));
    }
}

// Closing the station switches every light off: the last lit shelf must not stay lit for
// the next person at the bench.
Station::~Station() {
    // The amount on the balance now goes to the journal: a restart credits all of it.
    if (m_sequencer)
        m_sequencer->close();
    // The sinks go before the logic that reports to them.
    if (m_sequencer)
        m_sequencer->setExtensions(nullptr, nullptr);
    if (m_queue)
        m_queue->setEvents(nullptr);
    if (m_putBack)
        m_putBack->setEvents(nullptr);
    if (m_lightBus)
        if (Outcome o = m_lightBus->switchAllOffNow(true); !o)
            qWarning("lights not switched off: %s", qPrintable(o.reason()));
    if (m_balanceLink && m_lightBus)
        qInfo("%s", qPrintable(busReport().section(QLatin1String("\n\n"), 0, 0)));
}

QString Station::busReport() const {
    return portReport({&m_balanceLink->stats(0), &m_balanceLink->stats(1), &m_lightBus->stats()},
                      m_balanceLink->clock().nowUs());
}

void Station::start() {
    // The settings window's load: the settings file.
    if (Outcome o = SettingsFile::load(path(QStringLiteral("set.txt")), m_settings); !o)
        m_status.report(QStringLiteral("設定檔讀取失敗 %1").arg(o.reason()));
    startIntake();
    applyLanguage();

    // A removal or an undo cut off by a crash is completed first: what it kept belongs in
    // the files the sequencer reads.
    if (Outcome o = m_undo->recover(); !o)
        m_status.report(QStringLiteral("復原紀錄讀取失敗 %1").arg(o.reason()));
    m_form3->setUndoText(m_undo->lastWhat());
    m_form4->setUndoText(m_undo->lastWhat());
    startExtensions();

    // A job cut off by a crash: its finish completed, or its weighing resumed, now, before
    // anything touches the queue (the sequencer tries again while it cannot be done).
    m_sequencer->recoverJournal();

    // The main window's start-up.
    m_form3->move(kTwips100, kTwips100);
    const StartupResult r = runStartup(m_settings, {*m_comm1, *m_comm2, *m_comm3}, m_timers, m_run,
                                       path(QStringLiteral("QUICK.txt")));
    m_form3->setRecipeEntries(r.recipeEntries);
    // A stop with a line's light on leaves that shelf lit: every light goes off before
    // anything else is shown, also when the start-up failed elsewhere.
    // Sent by the light bus's pacing timer, one exchange after the other.
    if (m_comm3->isOpen())
        if (Outcome o = m_lightBus->switchAllOffNow(false); !o)
            m_status.report(QStringLiteral("燈號未熄滅: %1").arg(o.reason()));
    if (!r.failures.isEmpty())
        m_status.report(QStringLiteral("啟動失敗: %1").arg(r.failures.join(QStringLiteral("; "))));
    // A port this user may not open is said in plain words, with the fix.
    for (const SerialPort* p : {m_comm1.get(), m_comm2.get(), m_comm3.get()})
        if (!p->isOpen() && !p->device().isEmpty())
            if (const QString why = portPermissionProblem(p->device()); !why.isEmpty())
                m_status.report(why);
}

void Station::setSpeedUp(int factor) {
    for (BoundTimer* b : m_boundTimers)
        b->setSpeedUp(factor);
}

void Station::refreshRecipeList() {
    const RecipeListResult r = readRecipeList(path(QStringLiteral("QUICK.txt")));
    if (!r.outcome) {
        m_status.report(QStringLiteral("配方檔讀取失敗 %1").arg(r.outcome.reason()));
        return;
    }
    m_form3->setRecipeEntries(r.entries);
}

void Station::showWindow(QWidget* w) {
    w->move(kTwips100, kTwips100);
    w->show();
    w->raise();
    w->activateWindow();
}

void Station::undoRemoval() {
    const QString what = m_undo->lastWhat();
    if (Outcome o = m_undo->undo(); !o)
        m_status.report(QStringLiteral("復原失敗: %1").arg(o.reason()));
    else
        m_status.report(QStringLiteral("已復原 %1").arg(what));
}

void Station::undoBoxChoice() {
    m_status.report(m_sequencer->undoBoxChoice()
                        ? QStringLiteral("已復原上一個換桶/加箱/扣箱選擇")
                        : QStringLiteral("沒有可復原的換桶/加箱/扣箱選擇 (本行已完成或未選擇)"));
}

void Station::saveSettings() {
    if (Outcome o = SettingsFile::save(path(QStringLiteral("set.txt")), m_settings); !o)
        m_status.report(QStringLiteral("設定檔存檔失敗 %1").arg(o.reason()));
    else
        m_status.report(QStringLiteral("設定已存檔"));
}

// ---- the station's own extensions (dyestation.ini): confirmed pick, weighing log, MQTT

void Station::wireExtensions() {
    m_extWindow = std::make_unique<ExtensionsWindow>();
    m_scans->guardAllControls(m_extWindow.get()); // a scan never lands in a setting
    connect(m_form3.get(), &Form3::openExtensions, this, [this] {
        m_extWindow->setValues(ExtensionSettings::load(path(QStringLiteral("dyestation.ini"))));
        showWindow(m_extWindow.get());
    });
    connect(m_extWindow.get(), &ExtensionsWindow::saveClicked, this, [this] {
        const QString refused = m_extWindow->refusal();
        const Outcome o = !refused.isEmpty()
                              ? Outcome::failure(refused)
                              : ExtensionSettings::save(path(QStringLiteral("dyestation.ini")),
                                                        m_extWindow->values());
        const QString said = o ? QStringLiteral("已存檔,重新啟動後生效")
                               : QStringLiteral("存檔失敗: %1").arg(o.reason());
        m_extWindow->setStatus(shown(said));
    });
    // The weighing log of the month chosen in the history window's list, or of this month.
    connect(m_form5.get(), &Form5::exportLogClicked, this, [this] {
        if (!m_logExport)
            return;
        const QString running = m_logExport->start(
            LogExport::monthOf(m_form5->chosenMonthFile(), m_clock->now().date()));
        if (!running.isEmpty())
            m_form5->setStatusText(running);
    });

    m_diagWindow = std::make_unique<DiagnosticsWindow>(
        [this] { return busReport(); },
        [this] {
            const QString file =
                path(QStringLiteral("bus-trace-%1.txt")
                         .arg(m_clock->now().toString(QStringLiteral("yyyyMMdd-HHmmss"))));
            const Outcome o = savePortReport(
                file, {&m_balanceLink->stats(0), &m_balanceLink->stats(1), &m_lightBus->stats()},
                m_balanceLink->clock().nowUs());
            const QString said = o ? QStringLiteral("已存檔 %1").arg(file)
                                   : QStringLiteral("存檔失敗: %1").arg(o.reason());
            return shown(said);
        });
    connect(m_extWindow.get(), &ExtensionsWindow::diagnosticsClicked, this,
            [this] { showWindow(m_diagWindow.get()); });
}

// Read once at the start: a missing dyestation.ini leaves every extension off.
void Station::startExtensions() {
    m_ext = ExtensionSettings::load(path(QStringLiteral("dyestation.ini")));
    m_balanceLink->setMarks(m_ext.balance);
    m_balanceLink->setResponseTimeoutMs(m_ext.balanceResponseTimeoutMs);
    if (!m_ext.present)
        return;
    m_log = std::make_unique<WeighingLog>(WeighingLog::Config{m_dir.path(), m_ext.logOdbc});
    connect(m_log.get(), &WeighingLog::report, &m_status, &StatusLine::report,
            Qt::QueuedConnection);
    m_logExport = std::make_unique<LogExport>(m_dir.path(), m_ext.logOdbc, m_log.get());
    connect(m_logExport.get(), &LogExport::finished, this, [this](const QString& text) {
        m_form5->setStatusText(text);
        m_status.report(text);
    });
    if (!m_ext.mqttProblems.isEmpty()) {
        // Nothing is started with a guessed value: a wrong port or log-in would send the
        // station's messages to the wrong place, or nowhere, without a word.
        for (const QString& p : m_ext.mqttProblems)
            m_status.report(QStringLiteral("MQTT 未啟動: %1").arg(p));
    } else if (!m_ext.mqttHost.isEmpty()) {
        MqttLink::Config mqtt{m_dir.path(), m_ext.mqttHost, m_ext.mqttPort, m_ext.station()};
        mqtt.username = m_ext.mqttUser;
        mqtt.password = m_ext.mqttPassword;
        mqtt.tls = m_ext.mqttTls;
        mqtt.caFile =
            m_ext.mqttCaFile.isEmpty() ? QString() : m_dir.absoluteFilePath(m_ext.mqttCaFile);
        mqtt.keepalive = m_ext.mqttKeepalive;
        m_mqtt = std::make_unique<MqttLink>(mqtt);
        connect(m_mqtt.get(), &MqttLink::report, &m_status, &StatusLine::report,
                Qt::QueuedConnection);
    }
    m_events = std::make_unique<PlantEvents>(*m_clock, m_ext.station(), m_log.get(), m_mqtt.get());
    if (m_ext.pickConfirm) {
        QHash<QString, QString> aliases;
        if (!m_ext.aliases.isEmpty())
            if (Outcome o = PickCheck::loadAliases(m_dir.absoluteFilePath(m_ext.aliases), aliases);
                !o)
                m_status.report(QStringLiteral("容器代碼對照檔讀取失敗 %1").arg(o.reason()));
        m_pick = std::make_unique<PickCheck>(m_weighing, aliases,
                                             m_settings.isExactlyOne(Setting::Language));
        m_pick->setEvents(m_events.get());
        if (!m_ext.scannerPort.isEmpty()) {
            m_scannerPort = m_portFactory();
            m_scanner = std::make_unique<FixedScanner>(
                *m_scannerPort, m_ext.scannerPort, m_status, [this](const QString& code) {
                    if (!pickScan(code))
                        m_status.report(QStringLiteral("掃描 %1: 沒有等待掃描的行").arg(code));
                });
        }
    }
    m_sequencer->setExtensions(m_pick.get(), m_events.get());
    m_queue->setEvents(m_events.get());
    m_putBack->setEvents(m_events.get());
    m_form5->showExportLog();
}

bool Station::pickScan(const QString& code) {
    if (!m_pick || !m_pick->wantsScan())
        return false;
    std::ignore = m_pick->scan(code);
    return true;
}
