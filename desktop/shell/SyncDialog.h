#pragma once

#include "Error.h"

#include <QDialog>

#include <memory>

class Core;
class FolderAppleCloud;
class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTimer;
class UserDefaults;

// Brindlewick ▸ Sync…: the sync folder every computer shares (any tool keeps
// it in step), the record store that relays changes between them (this
// computer's file, or a PostgreSQL database), the cloud switch and a live
// status line. Each change applies at once and is kept in the defaults; a
// refusal is shown and leaves the previous setting working. Checks run off
// the main thread while a busy indicator turns and the controls rest.
class SyncDialog : public QDialog {
    Q_OBJECT
public:
    SyncDialog(std::shared_ptr<FolderAppleCloud> cloud, Core& core, UserDefaults& defaults,
               QWidget* parent = nullptr);

    // Shows the one dialog over the application's cloud, raised when already
    // open; null while the cloud has no sync folder side.
    static SyncDialog* present(QWidget* parent);

    // The folder picked in the file dialog, and the store's two choices: an
    // empty connection string means this computer's own file. Text that is
    // no PostgreSQL connection string is refused at once, and the store
    // refuses one that holds a password.
    void applyFolder(const QString& path);
    void applyStore(const QString& connection);
    void applyCloudSwitch(bool on);

    bool isBusy() const { return busy_; }
    QString errorText() const;
    QString statusText() const;

signals:
    // A change has been applied or refused.
    void changeFinished();

private:
    void buildFolderRow(class QFormLayout* form);
    void buildStoreRows(QFormLayout* form);
    void chooseFolder();
    void storeChoiceChanged();
    void showSettings();
    void refreshStatus();
    void setBusy(bool busy);
    void finish(const Error& error);

    std::shared_ptr<FolderAppleCloud> cloud_;
    Core& core_;
    UserDefaults& defaults_;
    bool busy_ = false;

    QLabel* folder_ = nullptr;
    QPushButton* chooseFolder_ = nullptr;
    QRadioButton* localStore_ = nullptr;
    QRadioButton* sharedStore_ = nullptr;
    QLineEdit* connection_ = nullptr;
    QPushButton* connect_ = nullptr;
    QCheckBox* cloudSwitch_ = nullptr;
    QLabel* status_ = nullptr;
    QLabel* error_ = nullptr;
    QProgressBar* busyIndicator_ = nullptr;
    QTimer* statusTimer_ = nullptr;
};
