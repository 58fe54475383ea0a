#pragma once

#include "../store/ScopedMount.h"

#include "files/AtomicFile.h"

#include <QFile>
#include <QString>

#include <cerrno>
#include <memory>

// A folder whose saves fail and then work again: a full disk or a read-only
// one, injected through the file layer or, where the test may mount, made for
// real (a small filled tmpfs, a read-only bind mount).
class DiskFault {
public:
    enum class Kind { InjectedFull, InjectedReadOnly, FullTmpfs, ReadOnlyMount };

    static const char* name(Kind kind)
    {
        switch (kind) {
        case Kind::InjectedFull: return "injected full disk";
        case Kind::InjectedReadOnly: return "injected read-only folder";
        case Kind::FullTmpfs: return "full tmpfs";
        case Kind::ReadOnlyMount: return "read-only mount";
        }
        return "";
    }

    // Null, with the reason, when the kind needs a mount the test may not make.
    // A tmpfs is mounted here, empty: write the folder's files after this.
    static std::unique_ptr<DiskFault> make(Kind kind, const QString& folder, QString* refusal)
    {
        std::unique_ptr<DiskFault> fault(new DiskFault(kind, folder));
        if (kind == Kind::FullTmpfs) {
            fault->mount_ = ScopedMount::make(ScopedMount::Kind::SmallTmpfs, folder, refusal);
            if (!fault->mount_)
                return nullptr;
        }
        if (kind == Kind::ReadOnlyMount) {
            // Tried once now, so a refusal shows before the test begins.
            if (!ScopedMount::make(ScopedMount::Kind::ReadOnlyBind, folder, refusal))
                return nullptr;
        }
        return fault;
    }

    ~DiskFault()
    {
        heal();
        mount_.reset();
    }

    // Saves into the folder fail from now on.
    void fail()
    {
        switch (kind_) {
        case Kind::InjectedFull:
        case Kind::InjectedReadOnly: {
            const int code = kind_ == Kind::InjectedFull ? ENOSPC : EACCES;
            AtomicFile::setFaultCheck([folder = folder_, code](const QString& path) {
                return path.startsWith(folder + QLatin1Char('/')) ? code : 0;
            });
            break;
        }
        case Kind::FullTmpfs: mount_->fill(); break;
        case Kind::ReadOnlyMount: {
            QString refusal;
            readOnly_ = ScopedMount::make(ScopedMount::Kind::ReadOnlyBind, folder_, &refusal);
            break;
        }
        }
    }

    // Space or permission is back.
    void heal()
    {
        AtomicFile::setFaultCheck({});
        readOnly_.reset();
        if (kind_ == Kind::FullTmpfs)
            QFile::remove(folder_ + QStringLiteral("/.filler"));
    }

private:
    DiskFault(Kind kind, QString folder) : kind_(kind), folder_(std::move(folder)) {}

    Kind kind_;
    QString folder_;
    std::unique_ptr<ScopedMount> mount_;
    std::unique_ptr<ScopedMount> readOnly_;
};
