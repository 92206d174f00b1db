#pragma once
#include "common/TickTimer.h"
#include "config/FieldMapping.h"
#include "config/Form2.h"
#include "intake/IntakeContext.h"
#include "intake/OrderPolling.h"
#include "intake/OrderSearch.h"
#include "intake/SqlWorkbench.h"

#include <memory>

// The order intake as the station owns it: the field mapping and its window, the database
// thread, the two searches, the polling with its timer (Form1.Timer2) and "執行SQL".
struct IntakeParts {
    IntakeParts(StatusLine& status, StationSettings& settings, Clock& clock, const QString& workDir,
                const QString& monthlyFolder, int loginTimeoutSecs, int statementTimeoutSecs)
        : faults(status), context{settings,
                                  mapping,
                                  db,
                                  queryBox,
                                  grid,
                                  faults,
                                  status,
                                  clock,
                                  workDir,
                                  monthlyFolder,
                                  loginTimeoutSecs,
                                  statementTimeoutSecs},
          form1Search(context, OrderSearch::Entry::SettingsWindow),
          form3Search(context, OrderSearch::Entry::MainWindow), polling(context),
          workbench(context, form2Grid) {}

    FieldMapping mapping;
    QueryBox queryBox;     // Form1.Text1
    StagingGrid grid;      // Form1.MSFlexGrid1
    StagingGrid form2Grid; // Form2.MSFlexGrid1
    IntakeFaults faults;
    OrderDatabase db;
    IntakeContext context;
    OrderSearch form1Search;
    OrderSearch form3Search;
    OrderPolling polling;
    SqlWorkbench workbench;
    TickTimer Timer2{0}; // Form1.Timer2: off until the settings switch polling on
    std::unique_ptr<Form2> form2;
};
