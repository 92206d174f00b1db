#pragma once
#include "common/Outcome.h"
#include "intake/OrderDatabase.h"

#include <QList>
#include <QString>
#include <QStringList>

// The real order databases of the intake tests: the SQLite ODBC driver with a database file
// of this test process (always there), and the PostgreSQL server that scripts/test.sh starts
// (DS_PG_* in the environment; without it those cases skip, and under CI they fail).
// Both are reached by data source name through odbc.ini files that scripts/odbc-ini.sh
// writes into a folder of this process (ODBCSYSINI/ODBCINI point there).
struct OrderDb {
    QString label;
    DbLogin login;
    bool available = false;
    QString why; // why it is not available
};

// One line of the order table vantrell (16 columns).
struct OrderLine {
    QString idNo;
    int prodType = 2;
    int stepNo = 44;
    QString note3 = QStringLiteral("1");
    QString code;
    QString weight = QStringLiteral("1");    // SQL text: a number or NULL
    QString outPos = QStringLiteral("'P1'"); // SQL text
    QString remark = QStringLiteral("NULL"); // SQL text
};

namespace DbFixture {

// Call once, first thing in initTestCase (before any ODBC use). `pgDatabase` is the name of
// this test's own PostgreSQL database, created afresh.
void setUp(const QString& pgDatabase);
// In a child process of a test: the databases its parent set up (the environment says where).
void attach();
OrderDb sqlite();
OrderDb pg();
OrderDb byLabel(const QString& label);
// The PostgreSQL ODBC driver library (for connection strings that name a driver).
QString pgDriverPath();

// Runs statements on a synchronous session (test set-up and checks only).
Outcome exec(const OrderDb& db, const QStringList& statements);
QList<QStringList> select(const OrderDb& db, const QString& sql, int lastField);

// Drops and creates vantrell and inserts the lines (seq numbers in order). The weight
// column is REAL, or `weightType` (a text type for weights that are not numbers).
Outcome createOrders(const OrderDb& db, const QList<OrderLine>& lines,
                     const QString& weightType = QStringLiteral("REAL"));
QString insert(const OrderLine& line, int seq);
// Makes every UPDATE of vantrell fail (or succeed again).
Outcome blockUpdates(const OrderDb& db, bool block);

} // namespace DbFixture
