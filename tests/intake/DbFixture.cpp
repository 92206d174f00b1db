#include "tests/intake/DbFixture.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

QTemporaryDir& iniDir() {
    static QTemporaryDir dir;
    return dir;
}

OrderDb g_sqlite{QStringLiteral("sqlite"), {}, false, QStringLiteral("not set up")};
OrderDb g_pg{QStringLiteral("pg"), {}, false, QStringLiteral("not set up")};

QString sqlQuoted(const QString& s) {
    QString v = s;
    v.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + v + QLatin1Char('\'');
}

} // namespace

namespace DbFixture {

QString pgDriverPath() {
    return QStringLiteral("/usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so");
}

void setUp(const QString& pgDatabase) {
    const QString dir = iniDir().path();
    const QString pgPort = qEnvironmentVariable("DS_PG_PORT");
    const QString user = qEnvironmentVariable("DS_PG_USER"),
                  password = qEnvironmentVariable("DS_PG_PASSWORD");
    const QString host = qEnvironmentVariable("DS_PG_HOST", QStringLiteral("127.0.0.1"));

    // This test's own PostgreSQL database, made through the server's first database.
    QString pgWhy;
    if (pgPort.isEmpty()) {
        pgWhy =
            QStringLiteral("no PostgreSQL server (DS_PG_PORT unset; scripts/test.sh starts one)");
    } else {
        OrderDb admin{QStringLiteral("pg-admin"),
                      {QStringLiteral("DRIVER=%1;SERVER=%2;PORT=%3;DATABASE=%4;SSLmode=disable")
                           .arg(pgDriverPath(), host, pgPort,
                                qEnvironmentVariable("DS_PG_DB", QStringLiteral("orders"))),
                       user, password, 10},
                      true,
                      {}};
        if (Outcome o = exec(admin, {QStringLiteral("DROP DATABASE IF EXISTS %1").arg(pgDatabase),
                                     QStringLiteral("CREATE DATABASE %1").arg(pgDatabase)});
            !o)
            pgWhy = QStringLiteral("PostgreSQL database not created: %1").arg(o.reason());
    }

    const QString sqliteFile = QDir(dir).filePath(QStringLiteral("orders.db"));
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!pgPort.isEmpty()) {
        env.insert(QStringLiteral("PG_PORT"), pgPort);
        env.insert(QStringLiteral("PG_HOST"), host);
        env.insert(QStringLiteral("PG_DB"), pgDatabase);
    }
    p.setProcessEnvironment(env);
    const QString script =
        QDir(qEnvironmentVariable("DS_SOURCE_DIR")).filePath(QStringLiteral("scripts/odbc-ini.sh"));
    p.start(QStringLiteral("bash"), {script, dir, sqliteFile});
    if (!p.waitForFinished(20000) || p.exitCode() != 0)
        QFAIL(qPrintable(QStringLiteral("odbc-ini.sh failed: %1")
                             .arg(QString::fromLocal8Bit(p.readAllStandardError()))));
    qputenv("ODBCSYSINI", QFile::encodeName(dir));
    qputenv("ODBCINI", QFile::encodeName(QDir(dir).filePath(QStringLiteral("odbc.ini"))));

    g_sqlite = {QStringLiteral("sqlite"), {QStringLiteral("ds_sqlite"), {}, {}, 5}, true, {}};
    g_pg = {
        QStringLiteral("pg"), {QStringLiteral("ds_pg"), user, password, 5}, pgWhy.isEmpty(), pgWhy};
    if (!g_pg.available && qEnvironmentVariable("CI") == QLatin1String("true"))
        QFAIL(qPrintable(QStringLiteral("CI needs the PostgreSQL server: %1").arg(pgWhy)));
}

void attach() {
    g_sqlite = {QStringLiteral("sqlite"), {QStringLiteral("ds_sqlite"), {}, {}, 5}, true, {}};
    g_pg = {QStringLiteral("pg"),
            {QStringLiteral("ds_pg"), qEnvironmentVariable("DS_PG_USER"),
             qEnvironmentVariable("DS_PG_PASSWORD"), 5},
            !qEnvironmentVariable("DS_PG_PORT").isEmpty(),
            QStringLiteral("no PostgreSQL server")};
}

OrderDb sqlite() {
    return g_sqlite;
}
OrderDb pg() {
    return g_pg;
}
OrderDb byLabel(const QString& label) {
    return label == QLatin1String("pg") ? g_pg : g_sqlite;
}

Outcome exec(const OrderDb& db, const QStringList& statements) {
    DbSession s(db.login);
    if (Outcome o = s.connect(); !o)
        return o;
    for (const QString& sql : statements)
        if (Outcome o = s.statement(sql); !o)
            return Outcome::failure(o.reason() + QStringLiteral(" [") + sql + QStringLiteral("]"));
    return Outcome::success();
}

QList<QStringList> select(const OrderDb& db, const QString& sql, int lastField) {
    DbSession s(db.login);
    DbRows rows;
    if (Outcome o = s.connect(); !o) {
        qWarning("%s", qPrintable(o.reason()));
        return {};
    }
    if (Outcome o = s.query(sql, lastField, rows); !o)
        qWarning("%s", qPrintable(o.reason()));
    return rows.rows;
}

QString insert(const OrderLine& l, int seq) {
    return QStringLiteral("INSERT INTO vantrell VALUES (%1, %2, %3, %4, 250.5, %5, %6, 'M1', %7, "
                          "'red', 1.25, %8, 'g', "
                          "'lot', %9, NULL)")
        .arg(seq)
        .arg(sqlQuoted(l.idNo))
        .arg(l.prodType)
        .arg(l.outPos)
        .arg(l.stepNo)
        .arg(sqlQuoted(l.note3), sqlQuoted(l.code), l.weight, l.remark);
}

Outcome createOrders(const OrderDb& db, const QList<OrderLine>& lines, const QString& weightType) {
    // Ids and codes wider than the job record's fields: the station must refuse what does
    // not fit rather than the table.
    QStringList sql{
        QStringLiteral("DROP TABLE IF EXISTS vantrell"),
        QStringLiteral(
            "CREATE TABLE vantrell (seq INTEGER, id_no VARCHAR(6000), prod_type INTEGER, "
            "out_pos VARCHAR(10), goods_kg REAL, step_no INTEGER, note3 VARCHAR(6), "
            "machine VARCHAR(10), code VARCHAR(40), color VARCHAR(10), recipe REAL, "
            "weight %1, unit VARCHAR(4), lot VARCHAR(10), remark VARCHAR(50), "
            "note VARCHAR(50))")
            .arg(weightType)};
    for (int i = 0; i < lines.size(); ++i)
        sql << insert(lines[i], i + 1);
    if (db.label == QLatin1String("sqlite") && lines.size() > 50) {
        sql.insert(2, QStringLiteral("BEGIN"));
        sql << QStringLiteral("COMMIT");
    }
    return exec(db, sql);
}

Outcome blockUpdates(const OrderDb& db, bool block) {
    if (db.label == QLatin1String("pg")) {
        if (!block)
            return exec(db, {QStringLiteral("DROP TRIGGER IF EXISTS no_update ON vantrell")});
        return exec(
            db,
            {QStringLiteral("CREATE OR REPLACE FUNCTION refuse() RETURNS trigger AS $$ BEGIN RAISE "
                            "EXCEPTION 'updates refused'; END $$ LANGUAGE plpgsql"),
             QStringLiteral("DROP TRIGGER IF EXISTS no_update ON vantrell"),
             QStringLiteral(
                 "CREATE TRIGGER no_update BEFORE UPDATE ON vantrell FOR EACH ROW EXECUTE "
                 "FUNCTION refuse()")});
    }
    if (!block)
        return exec(db, {QStringLiteral("DROP TRIGGER IF EXISTS no_update")});
    return exec(db,
                {QStringLiteral("CREATE TRIGGER no_update BEFORE UPDATE ON vantrell BEGIN SELECT "
                                "RAISE(ABORT, 'updates refused'); END")});
}

} // namespace DbFixture
