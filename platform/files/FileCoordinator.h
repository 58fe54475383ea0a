#pragma once

// The lock between processes comes with the coordination inside one.
#include "InstanceLock.h"

#include <QString>
#include <QStringList>

#include <utility>

// Coordinated access to files inside the process: while an Access is alive no
// other thread gets one for the same path. Paths are compared after making
// them absolute and clean. A thread that already holds a path may coordinate it
// again (nested accessors do not deadlock), and two paths are taken together,
// all or nothing, so two threads asking for (a, b) and (b, a) never deadlock.
class FileCoordinator {
public:
    class Access {
    public:
        Access(Access&& other) noexcept;
        Access& operator=(Access&& other) noexcept;
        Access(const Access&) = delete;
        Access& operator=(const Access&) = delete;
        ~Access();

        // Gives the paths back before the end of the scope.
        void release();

    private:
        friend class FileCoordinator;
        explicit Access(QStringList paths) : paths_(std::move(paths)) {}
        QStringList paths_;
    };

    static Access coordinate(const QString& path);
    static Access coordinate(const QString& first, const QString& second);
};
