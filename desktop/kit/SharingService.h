#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>

// A way to hand files to the desktop: attach them to a new e-mail, open them in their default
// application, show them in the file manager, or put them on the clipboard as files.
class SharingService {
public:
    enum Kind { Email, OpenWithDefaultApplication, ShowInFolder, CopyFile };
    // Starts a program without waiting for it; false when it could not start.
    using Launcher = std::function<bool(const QString& program, const QStringList& arguments)>;

    explicit SharingService(Kind kind) : kind_(kind) {}

    // The services that take the items: all of them for local files, none for anything else.
    static QList<SharingService> sharingServicesForItems(const QList<QUrl>& items);

    Kind kind() const { return kind_; }
    QString title() const;
    // An icon name of the desktop's theme.
    QString imageName() const;
    // False when the items are no local files or the program could not start.
    bool performWithItems(const QList<QUrl>& items) const;

    // The default (also set by an empty launcher) starts the program detached.
    static void setLauncher(Launcher launcher);

private:
    Kind kind_;
};
