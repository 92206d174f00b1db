#pragma once
#include "common/Clock.h"
#include "common/StatusLine.h"
#include "config/ExtensionSettings.h"
#include "config/StationSettings.h"
#include "devices/BalanceReadings.h"
#include "devices/LightMap.h"
#include "devices/SerialPort.h"
#include "devices/Ticket.h"
#include "weighing/RunControl.h"
#include "weighing/StationTimers.h"
#include "weighing/WeighingModel.h"

#include <QDir>
#include <QObject>
#include <functional>
#include <memory>
#include <vector>

class BoundTimer;
struct IntakeParts;
class Form1;
class Form3;
class Form6;
class BalanceLink;
class Zeroing;
class Form5;
class HistoryBrowser;
class LightBus;
class Sequencer;
class QueueCommands;
class StatusColours;
class Form7;
class RecipeEditor;
class ScanRouter;
class Form4;
class EventLog;
class UndoStore;
class UndoPutBack;
class WeighingPanelModel;
class ExtensionsWindow;
class DiagnosticsWindow;
class FixedScanner;
class MqttLink;
class PickCheck;
class PlantEvents;
class WeighingLog;
class LogExport;
class TicketQueue;
class QueuedTickets;

struct StationOptions {
    QString workDir = QDir::currentPath();
    SerialPortFactory portFactory;                        // default: QSerialPort
    Clock* clock = nullptr;                               // default: the system clock
    QString monthlyFolder = QStringLiteral("/oruk/dat3"); // the monthly dye order file's folder
    int dbLoginTimeoutSecs = 10;                          // order database login time-out
    int dbStatementTimeoutSecs = 10;                      // order database statement time-out
    // Where Printer01 sends a ticket, on the ticket queue's own thread; default: the system's
    // default printer.
    std::function<Outcome(const QList<TicketItem>&)> ticketOutput = {};
};

// Owns everything the station is made of, and builds it in the order of the start-up:
// models, devices, windows, timers.
class Station : public QObject {
    Q_OBJECT
public:
    explicit Station(StationOptions options = {});
    ~Station() override;

    // Loads the settings (the settings window's load), runs the main window's start-up
    // and starts the timers. Does not show any window.
    void start();

    QString path(const QString& name) const { return m_dir.filePath(name); }

    Clock& clock() { return *m_clock; }
    StatusLine& status() { return m_status; }
    StationSettings& settings() { return m_settings; }
    WeighingModel& weighing() { return m_weighing; }
    BalanceReadings& readings() { return m_readings; }
    LightMap& lightMap() { return m_lightMap; }
    StationTimers& timers() { return m_timers; }
    RunControl& runControl() { return m_run; }
    SerialPort& MSComm1() { return *m_comm1; }
    SerialPort& MSComm2() { return *m_comm2; }
    SerialPort& MSComm3() { return *m_comm3; }
    LightBus& lightBus() { return *m_lightBus; }
    Sequencer& sequencer() { return *m_sequencer; }
    Form1& form1() { return *m_form1; }
    Form3& form3() { return *m_form3; }
    QueueCommands& queueCommands() { return *m_queue; }
    IntakeParts& intake() { return *m_intake; }
    Form7& form7() { return *m_form7; }
    Form4& form4() { return *m_form4; }
    RecipeEditor& recipes() { return *m_recipes; }
    Form6& form6() { return *m_form6; }
    BalanceLink& balanceLink() { return *m_balanceLink; }
    Form5& form5() { return *m_form5; }
    WeighingPanelModel& panel() { return *m_panel; }
    ExtensionsWindow& extensionsWindow() { return *m_extWindow; }
    DiagnosticsWindow& diagnosticsWindow() { return *m_diagWindow; }
    // The figures of MSComm1, MSComm2 and MSComm3, and the report the diagnostics show.
    QString busReport() const;
    PickCheck* pickCheck() { return m_pick.get(); }
    WeighingLog* weighingLog() { return m_log.get(); }
    MqttLink* mqttLink() { return m_mqtt.get(); }
    TicketQueue& tickets() { return *m_tickets; }
    // A container scanned with the fixed scanner or the keyboard: the confirmed pick's, while
    // a line waits for it; false otherwise.
    bool pickScan(const QString& code);

    // Runs every logic timer `factor` times faster than its interval (tests, soak).
    void setSpeedUp(int factor);

    void refreshRecipeList();

private:
    // The wiring of each subsystem into the station, in start-up order.
    void wireDevices();
    void wireWeighing();
    void wireQueue();
    void wireIntake();
    void startIntake();
    void wireHistory();
    void wireScans();
    void wireExtensions();
    void startExtensions();
    void applyLanguage();
    QString shown(const QString& text) const;

    void tickTimer1();
    void tickTimer2();
    void tickTimer3();
    void tickTimer6();

    void showWindow(QWidget* w);
    void saveSettings();
    void undoRemoval();
    void undoBoxChoice();

    QDir m_dir;
    Clock m_systemClock;
    Clock* m_clock;
    QString m_monthlyFolder;
    int m_dbLoginTimeout;
    int m_dbStatementTimeout;
    StatusLine m_status;
    StationSettings m_settings;
    WeighingModel m_weighing;
    BalanceReadings m_readings;
    LightMap m_lightMap;
    StationTimers m_timers;
    RunControl m_run{m_timers};
    std::unique_ptr<SerialPort> m_comm1, m_comm2, m_comm3;
    std::unique_ptr<LightBus> m_lightBus;
    std::unique_ptr<EventLog> m_eventLog;
    std::unique_ptr<WeighingPanelModel> m_panel;
    std::unique_ptr<UndoStore> m_undo;
    std::unique_ptr<UndoPutBack> m_putBack;
    std::unique_ptr<Form1> m_form1;
    std::unique_ptr<Form3> m_form3;
    std::unique_ptr<QueueCommands> m_queue;
    std::unique_ptr<StatusColours> m_colours;
    std::unique_ptr<Form7> m_form7;
    std::unique_ptr<RecipeEditor> m_recipes;
    std::unique_ptr<Form4> m_form4;
    std::unique_ptr<BalanceLink> m_balanceLink;
    std::unique_ptr<Zeroing> m_zeroing;
    std::unique_ptr<Form6> m_form6;
    std::unique_ptr<HistoryBrowser> m_history;
    std::unique_ptr<Form5> m_form5;
    std::function<Outcome(const QList<TicketItem>&)> m_ticketOutput;
    std::unique_ptr<TicketQueue> m_tickets; // prints off the window's thread
    std::unique_ptr<QueuedTickets> m_ticketService;
    std::unique_ptr<Sequencer> m_sequencer;
    std::vector<BoundTimer*> m_boundTimers;
    std::unique_ptr<IntakeParts> m_intake;
    std::unique_ptr<ScanRouter> m_scans;
    ExtensionSettings m_ext;
    std::unique_ptr<ExtensionsWindow> m_extWindow;
    std::unique_ptr<DiagnosticsWindow> m_diagWindow;
    std::unique_ptr<WeighingLog> m_log;
    std::unique_ptr<LogExport> m_logExport;
    std::unique_ptr<MqttLink> m_mqtt;
    std::unique_ptr<PlantEvents> m_events;
    std::unique_ptr<PickCheck> m_pick;
    std::unique_ptr<SerialPort> m_scannerPort;
    std::unique_ptr<FixedScanner> m_scanner;
    SerialPortFactory m_portFactory;
};
