#pragma once
#include "common/Outcome.h"

#include <QString>
#include <functional>

class StatusLine;
class WeighingEvents;

// What follows an undo that put records back in a file (UndoStore::restored): the event
// for the weighing log, then whatever shows that file reads it again. Records back in the
// recipe store: the recipe list and the recipe editor. Records back in a queue: the queue
// list, and the job removed while it was weighed resumes with the lines weighed before -
// at the sequencer's next look when it is back at the head, when it reaches the head when
// it is back behind other jobs.
class UndoPutBack {
public:
    struct Reload {
        std::function<Outcome()> recipes; // the recipe list and the editor
        std::function<void()> queueList;
    };

    UndoPutBack(QString workDir, QString recipeStore, StatusLine& status, Reload reload)
        : m_workDir(std::move(workDir)), m_recipeStore(std::move(recipeStore)), m_status(status),
          m_reload(std::move(reload)) {}

    // The sink of weighing events; null: none (off).
    void setEvents(WeighingEvents* events) { m_events = events; }

    void restored(const QString& file, int records, const QString& what);

private:
    QString m_workDir, m_recipeStore;
    StatusLine& m_status;
    Reload m_reload;
    WeighingEvents* m_events = nullptr;
};
