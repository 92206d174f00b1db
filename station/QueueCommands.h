#pragma once
#include "common/Outcome.h"

#include <QObject>
#include <QString>
#include <QStringList>

class LightBus;
class SerialPort;
class StationSettings;
class StatusLine;
class UndoStore;
class WeighingEvents;
class WeighingModel;

// The queue commands of the main window: reload the recipe list, queue a recipe, delete
// one queued job, cancel the whole queue. They act on the job files and on the weighing
// state shared with the sequencer, between sequencer ticks.
//
// A list entry addresses a record by its position, and the file may have changed since
// the list was filled (an order import appends to the recipe store, the sequencer removes
// finished jobs): every command first checks that the position still addresses what the
// entry showed (for the queue, the very record the list was filled from), and otherwise
// refills the list and does nothing else.
//
// Each command answers on the status line, once: what it did (which order, how many jobs),
// why it did nothing, or why it failed. So it returns nothing; the private steps behind
// them return the answer.
class QueueCommands : public QObject {
    Q_OBJECT
public:
    struct Files {
        QString quick;     // QUICK.txt, the recipe store
        QString queue;     // START_DISPEN.txt, the weighing queue
        QString queueTwin; // START_DISPEN2.txt
    };

    QueueCommands(Files files, WeighingModel& weighing, const StationSettings& settings,
                  SerialPort& lightPort, LightBus& lightBus, StatusLine& status,
                  QObject* parent = nullptr);

    // Refresh: List1 from the recipe store, newest first (emits recipeListChanged).
    void refresh();
    // Queue: appends an unchanged copy of the recipe at List1 position p (record
    // JobCount - p), `entry` being the text that position showed. p < 0 does nothing.
    void queue(int p, const QString& entry);
    // Delete: removes the queued job at List2 position p (record p + 1), `entry` being the
    // text that position showed, while the entry still stands for that record (see
    // WeighingModel::queueRecords). p < 0 does nothing.
    void deleteQueued(int p, const QString& entry);
    // Cancel all: stops the sequencer, clears the display, sweeps the lights off when a
    // light bus is in use, and deletes the queue file.
    void cancelAll();
    // Refills List2 from the queue file.
    void reloadQueueList();
    // Where delete and cancel all keep what they remove, so that it can be put back.
    void setUndo(UndoStore* undo) { m_undo = undo; }
    // Where deleted and cancelled jobs are reported (null: nowhere).
    void setEvents(WeighingEvents* events) { m_events = events; }

signals:
    void recipeListChanged(const QStringList& entries);
    // The sequencer was returned to idle by a command (its job was deleted or cancelled);
    // anything it holds of that job is void.
    void sequencerReset();

private:
    bool lightBusInUse() const;
    void resetDisplay();
    void dropJournal();
    void discardSetAside();
    void report(const Outcome& o);
    Outcome listRecipes();
    Outcome listQueue();
    QString queueRecipe(int p, const QString& entry);
    QString deleteJob(int p, const QString& entry);
    QString cancelJobs();
    void logJob(const QByteArray& record, const QString& event, const QString& detail);

    Files m_files;
    WeighingModel& m_weighing;
    const StationSettings& m_settings;
    SerialPort& m_lightPort;
    LightBus& m_lightBus;
    StatusLine& m_status;
    UndoStore* m_undo = nullptr;
    WeighingEvents* m_events = nullptr;
    qsizetype m_recipesListed = 0; // entries of the last recipe list
};
