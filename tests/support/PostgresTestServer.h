#pragma once
// The PostgreSQL server of the test fixture (tests/postgres-server, started
// by the postgres_start test): its URL is in the file named by
// $Q714_TEST_POSTGRES_URL_FILE. Without one, both helpers return nothing and
// the suites skip what needs a server. The including target links Qt6::Sql.

#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QUrl>

inline QString PostgresTestServerUrl() {
    QFile file(qEnvironmentVariable("Q714_TEST_POSTGRES_URL_FILE"));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed() : QString();
}

// A new, empty database `name` on the fixture's server, as a line would have
// one; its URL, or nothing without a server.
inline QString FreshPostgresDatabase(const QString& name) {
    const QUrl server(PostgresTestServerUrl());
    if (server.isEmpty())
        return {};
    {
        QSqlDatabase admin = QSqlDatabase::addDatabase("QPSQL", "admin");
        admin.setHostName(server.host());
        admin.setPort(server.port(5432));
        admin.setUserName(server.userName());
        admin.setDatabaseName(server.path().mid(1));
        if (!admin.open())
            return {};
        QSqlQuery(admin).exec(QStringLiteral("DROP DATABASE IF EXISTS %1").arg(name));
        QSqlQuery(admin).exec(QStringLiteral("CREATE DATABASE %1").arg(name));
        admin.close();
    }
    QSqlDatabase::removeDatabase("admin");
    QUrl fresh = server;
    fresh.setPath(QLatin1Char('/') + name);
    return fresh.toString();
}
