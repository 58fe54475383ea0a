#pragma once

#include <QString>
#include <QTemporaryFile>

#include <unistd.h>

// Collects what the console log writes to standard error while it lives.
class ConsoleCapture {
public:
    ConsoleCapture()
    {
        file_.open();
        saved_ = dup(STDERR_FILENO);
        dup2(file_.handle(), STDERR_FILENO);
    }
    ~ConsoleCapture() { restore(); }

    QString text()
    {
        restore();
        file_.seek(0);
        return QString::fromUtf8(file_.readAll());
    }

private:
    void restore()
    {
        if (saved_ < 0)
            return;
        dup2(saved_, STDERR_FILENO);
        ::close(saved_);
        saved_ = -1;
    }

    QTemporaryFile file_;
    int saved_ = -1;
};
