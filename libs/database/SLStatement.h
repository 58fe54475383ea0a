#pragma once

#include <QString>

#include <sqlite3.h>

#include <cstdint>

// One prepared statement, owned by this object: finalized when it is closed or
// destroyed. The connection keeps these in its cache for reuse; while a result
// set reads one it is marked in use so the cache hands out another.
class SLStatement {
public:
    explicit SLStatement(sqlite3_stmt* statement, const QString& query = QString());
    ~SLStatement();
    SLStatement(const SLStatement&) = delete;
    SLStatement& operator=(const SLStatement&) = delete;

    // Finalizes the handle; the object keeps no handle afterwards.
    void close();
    // Back to the start of the statement, bindings kept.
    void reset();
    QString description() const;

    sqlite3_stmt* statement() const { return statement_; }
    QString query() const { return query_; }
    void setQuery(const QString& query) { query_ = query; }
    int64_t useCount() const { return useCount_; }
    void setUseCount(int64_t count) { useCount_ = count; }
    bool inUse() const { return inUse_; }
    void setInUse(bool inUse) { inUse_ = inUse; }

private:
    sqlite3_stmt* statement_ = nullptr;
    QString query_;
    int64_t useCount_ = 0;
    bool inUse_ = false;
};
