#include "SLStatement.h"

SLStatement::SLStatement(sqlite3_stmt* statement, const QString& query)
    : statement_(statement)
    , query_(query)
{
}

SLStatement::~SLStatement()
{
    close();
}

void SLStatement::close()
{
    if (statement_) {
        sqlite3_finalize(statement_);
        statement_ = nullptr;
    }
    inUse_ = false;
}

void SLStatement::reset()
{
    if (statement_)
        sqlite3_reset(statement_);
    inUse_ = false;
}

QString SLStatement::description() const
{
    return QStringLiteral("<SLStatement: 0x%1> %2 hit(s) for query %3")
        .arg(reinterpret_cast<quintptr>(this), 0, 16)
        .arg(static_cast<long>(useCount_))
        .arg(query_);
}
