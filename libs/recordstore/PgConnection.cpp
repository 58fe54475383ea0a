#include "PgConnection.h"

#include "RecordStoreError.h"

#include <libpq-fe.h>

#include <vector>

PgResult::PgResult(pg_result* result)
    : result_(result, [](pg_result* r) { PQclear(r); })
{
}

bool PgResult::ok() const
{
    const ExecStatusType status = PQresultStatus(result_.get());
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

int PgResult::rows() const { return PQntuples(result_.get()); }

int PgResult::affected() const { return QByteArray(PQcmdTuples(result_.get())).toInt(); }

bool PgResult::isNull(int row, int column) const { return PQgetisnull(result_.get(), row, column); }

QString PgResult::text(int row, int column) const
{
    return QString::fromUtf8(PQgetvalue(result_.get(), row, column), PQgetlength(result_.get(), row, column));
}

int64_t PgResult::integer(int row, int column) const
{
    return QByteArray::fromRawData(PQgetvalue(result_.get(), row, column), PQgetlength(result_.get(), row, column))
        .toLongLong();
}

double PgResult::real(int row, int column) const
{
    return QByteArray::fromRawData(PQgetvalue(result_.get(), row, column), PQgetlength(result_.get(), row, column))
        .toDouble();
}

QByteArray PgResult::bytes(int row, int column) const
{
    size_t length = 0;
    unsigned char* raw =
        PQunescapeBytea(reinterpret_cast<const unsigned char*>(PQgetvalue(result_.get(), row, column)), &length);
    const QByteArray bytes(reinterpret_cast<const char*>(raw), qsizetype(length));
    PQfreemem(raw);
    return bytes;
}

QByteArray PgResult::sqlState() const { return QByteArray(PQresultErrorField(result_.get(), PG_DIAG_SQLSTATE)); }

QString PgResult::message() const
{
    const char* primary = PQresultErrorField(result_.get(), PG_DIAG_MESSAGE_PRIMARY);
    return QString::fromUtf8(primary ? primary : PQresultErrorMessage(result_.get())).trimmed();
}

Error PgConnection::checkConnectionString(const QString& connectionString)
{
    char* message = nullptr;
    PQconninfoOption* options = PQconninfoParse(connectionString.toUtf8().constData(), &message);
    if (!options) {
        const QString text = message ? QString::fromUtf8(message).trimmed() : QStringLiteral("out of memory");
        PQfreemem(message);
        return RecordStoreError::make(RecordStoreError::InvalidArguments,
                                      QStringLiteral("invalid connection string: %1").arg(text));
    }
    bool hasPassword = false;
    for (const PQconninfoOption* option = options; option->keyword; ++option)
        hasPassword = hasPassword || (QByteArray(option->keyword) == "password" && option->val);
    PQconninfoFree(options);
    if (hasPassword)
        return RecordStoreError::make(RecordStoreError::InvalidArguments,
                                      QStringLiteral("the connection string holds a password; keep it in ~/.pgpass "
                                                     "or the file PGPASSFILE names instead"));
    return {};
}

std::unique_ptr<PgConnection> PgConnection::connect(const QString& connectionString, const QString& applicationName,
                                                    Error* error)
{
    if (Error refused = checkConnectionString(connectionString); !refused.isNull()) {
        setError(error, refused);
        return nullptr;
    }
    const QByteArray dsn = connectionString.toUtf8();
    const QByteArray name = applicationName.toUtf8();
    // The expanded string overrides the keywords before it and yields to those
    // after it. Keepalives let a listener notice a network that silently went away.
    const char* const keywords[] = {"connect_timeout", "keepalives_idle", "keepalives_interval", "keepalives_count",
                                    "dbname", "application_name", "client_encoding", nullptr};
    const char* const values[] = {"10", "30", "10", "3", dsn.constData(), name.constData(), "UTF8", nullptr};
    pg_conn* conn = PQconnectdbParams(keywords, values, 1);
    if (!conn || PQstatus(conn) != CONNECTION_OK) {
        const QString message = conn ? QString::fromUtf8(PQerrorMessage(conn)).trimmed() : QStringLiteral("out of memory");
        PQfinish(conn);
        setError(error, RecordStoreError::fromPostgresConnect(message));
        return nullptr;
    }
    PQsetNoticeProcessor(conn, [](void*, const char*) {}, nullptr); // "already exists, skipping" and the like
    return std::unique_ptr<PgConnection>(new PgConnection(conn));
}

PgConnection::~PgConnection() { PQfinish(conn_); }

QString PgConnection::numbered(const QString& sql)
{
    QString result;
    result.reserve(sql.size() + 16);
    int number = 0;
    for (const QChar c : sql) {
        if (c == QLatin1Char('?'))
            result += QLatin1Char('$') + QString::number(++number);
        else
            result += c;
    }
    return result;
}

PgResult PgConnection::exec(const QString& sql, const QVariantList& arguments)
{
    std::vector<QByteArray> storage(arguments.size());
    std::vector<const char*> values(arguments.size());
    std::vector<int> lengths(arguments.size()), formats(arguments.size());
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QVariant& argument = arguments[i];
        switch (argument.typeId()) {
        case QMetaType::UnknownType: break; // NULL
        case QMetaType::QByteArray: storage[i] = argument.toByteArray(); formats[i] = 1; break;
        case QMetaType::Double: storage[i] = QByteArray::number(argument.toDouble(), 'g', 17); break;
        case QMetaType::QString: storage[i] = argument.toString().toUtf8(); break;
        default: storage[i] = argument.toByteArray(); break; // integers
        }
        if (argument.isValid()) {
            values[i] = storage[i].constData();
            lengths[i] = int(storage[i].size());
        }
    }
    return PgResult(PQexecParams(conn_, sql.toUtf8().constData(), int(arguments.size()), nullptr, values.data(),
                                 lengths.data(), formats.data(), 0));
}

Error PgConnection::error(const PgResult& result) const
{
    return RecordStoreError::fromPostgres(result.sqlState(), result.message(), isLost());
}

bool PgConnection::isLost() const { return PQstatus(conn_) != CONNECTION_OK; }

QString PgConnection::quoted(const QString& identifier) const
{
    const QByteArray utf8 = identifier.toUtf8();
    char* escaped = PQescapeIdentifier(conn_, utf8.constData(), utf8.size());
    const QString result = QString::fromUtf8(escaped);
    PQfreemem(escaped);
    return result;
}

int PgConnection::socket() const { return PQsocket(conn_); }
