#include "SyncDialog.h"

#include "CloudSetup.h"
#include "Core.h"

#include "Cloud/FolderAppleCloud.h"
#include "Cloud/StoreCKCloud.h"

#include "Container.h"
#include "UserDefaults.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>

namespace {

constexpr int StatusInterval = 500; // ms

const QString CloudKey = QStringLiteral("icloud");

StoreCKCloud& relayOf(const FolderAppleCloud& cloud)
{
    return static_cast<StoreCKCloud&>(*cloud.ckCloud());
}

} // namespace

SyncDialog::SyncDialog(std::shared_ptr<FolderAppleCloud> cloud, Core& core, UserDefaults& defaults, QWidget* parent)
    : QDialog(parent)
    , cloud_(std::move(cloud))
    , core_(core)
    , defaults_(defaults)
{
    setWindowTitle(tr("Sync"));
    auto* layout = new QVBoxLayout(this);
    cloudSwitch_ = new QCheckBox(tr("Sync notes between computers"), this);
    connect(cloudSwitch_, &QCheckBox::toggled, this, &SyncDialog::applyCloudSwitch);
    layout->addWidget(cloudSwitch_);
    auto* form = new QFormLayout;
    buildFolderRow(form);
    buildStoreRows(form);
    layout->addLayout(form);
    status_ = new QLabel(this);
    status_->setWordWrap(true);
    error_ = new QLabel(this);
    error_->setWordWrap(true);
    error_->setStyleSheet(QStringLiteral("color: #c0392b;"));
    busyIndicator_ = new QProgressBar(this);
    busyIndicator_->setRange(0, 0);
    busyIndicator_->hide();
    for (QWidget* widget : {static_cast<QWidget*>(status_), static_cast<QWidget*>(error_),
                            static_cast<QWidget*>(busyIndicator_)})
        layout->addWidget(widget);
    // Changes apply at once: closing is all that is left to do.
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    layout->addWidget(buttons);
    statusTimer_ = new QTimer(this);
    connect(statusTimer_, &QTimer::timeout, this, &SyncDialog::refreshStatus);
    statusTimer_->start(StatusInterval);
    showSettings();
}

SyncDialog* SyncDialog::present(QWidget* parent)
{
    static QPointer<SyncDialog> open;
    if (!open) {
        auto cloud = std::dynamic_pointer_cast<FolderAppleCloud>(Core::shared().appleCloud());
        if (!cloud)
            return nullptr;
        open = new SyncDialog(std::move(cloud), Core::shared(), UserDefaults::standard(), parent);
        open->setAttribute(Qt::WA_DeleteOnClose);
    }
    open->show();
    open->raise();
    open->activateWindow();
    return open;
}

void SyncDialog::buildFolderRow(QFormLayout* form)
{
    folder_ = new QLabel(this);
    folder_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    chooseFolder_ = new QPushButton(tr("Choose…"), this);
    connect(chooseFolder_, &QPushButton::clicked, this, &SyncDialog::chooseFolder);
    auto* row = new QHBoxLayout;
    row->addWidget(folder_, 1);
    row->addWidget(chooseFolder_);
    form->addRow(tr("Sync folder:"), row);
    auto* hint = new QLabel(tr("Point every computer at the same folder, kept in step by any sync tool."), this);
    hint->setWordWrap(true);
    form->addRow(QString(), hint);
}

void SyncDialog::buildStoreRows(QFormLayout* form)
{
    localStore_ = new QRadioButton(tr("This computer only"), this);
    sharedStore_ = new QRadioButton(tr("PostgreSQL database:"), this);
    connection_ = new QLineEdit(this);
    connection_->setPlaceholderText(QStringLiteral("host=server dbname=notes user=me"));
    connect_ = new QPushButton(tr("Connect"), this);
    connect(localStore_, &QRadioButton::toggled, this, &SyncDialog::storeChoiceChanged);
    connect(connect_, &QPushButton::clicked, this, [this] { applyStore(connection_->text().trimmed()); });
    connect(localStore_, &QRadioButton::clicked, this, [this] { applyStore(QString()); });
    auto* shared = new QHBoxLayout;
    shared->addWidget(sharedStore_);
    shared->addWidget(connection_, 1);
    shared->addWidget(connect_);
    form->addRow(tr("Record store:"), localStore_);
    form->addRow(QString(), shared);
    auto* hint = new QLabel(tr("The password is never stored: put it in ~/.pgpass. The record store relays the "
                               "last seven days of changes; use the same set-up on every computer."),
                            this);
    hint->setWordWrap(true);
    form->addRow(QString(), hint);
}

void SyncDialog::showSettings()
{
    const QString root = cloud_->container().root();
    folder_->setText(root.isEmpty() ? tr("No folder chosen") : root);
    const QString connection = defaults_.stringForKey(QString::fromLatin1(Container::StoreConnectionKey));
    (connection.isEmpty() ? localStore_ : sharedStore_)->setChecked(true);
    connection_->setText(connection);
    // Nothing syncs without a folder, whatever the setting: the switch says so and waits for one.
    const QSignalBlocker quiet(cloudSwitch_);
    cloudSwitch_->setChecked(!root.isEmpty() && core_.enabledAppleCloud());
    cloudSwitch_->setEnabled(!root.isEmpty() && !busy_);
    storeChoiceChanged();
    refreshStatus();
}

void SyncDialog::storeChoiceChanged()
{
    connection_->setEnabled(sharedStore_->isChecked() && !busy_);
    connect_->setEnabled(sharedStore_->isChecked() && !busy_);
}

void SyncDialog::chooseFolder()
{
    const QString path = QFileDialog::getExistingDirectory(this, tr("Choose the Sync Folder"), cloud_->container().root());
    if (!path.isEmpty())
        applyFolder(path);
}

void SyncDialog::applyFolder(const QString& path)
{
    setBusy(true);
    CloudSetup::changeDriveFolder(cloud_, path, [self = QPointer(this)](const Error& error) {
        if (self)
            self->finish(error);
    });
}

void SyncDialog::applyStore(const QString& connection)
{
    BackendConfig config;
    if (connection.isEmpty()) {
        config.sqlitePath = Container::defaultSqlitePath(relayOf(*cloud_).containerIdentifier());
    } else if (CloudSetup::isConnectionString(connection)) {
        config.connection = connection;
    } else {
        finish(Error::make(QStringLiteral("NSCocoaErrorDomain"), 4,
                           tr("This is not a PostgreSQL connection string: give key=value pairs or a "
                              "postgresql:// address.")));
        return;
    }
    setBusy(true);
    CloudSetup::changeRecordStore(cloud_, config, [self = QPointer(this), connection](const Error& error) {
        if (!self)
            return;
        if (error.isNull()) {
            const QString key = QString::fromLatin1(Container::StoreConnectionKey);
            connection.isEmpty() ? self->defaults_.removeObject(key) : self->defaults_.setString(connection, key);
            self->defaults_.synchronize();
        }
        self->finish(error);
    });
}

void SyncDialog::applyCloudSwitch(bool on)
{
    defaults_.setBool(on, CloudKey);
    defaults_.synchronize();
    core_.setEnabledAppleCloud(on);
    if (on)
        CloudSetup::activate(core_);
    else
        cloud_->stopQuery();
    finish(Error());
}

void SyncDialog::finish(const Error& error)
{
    setBusy(false);
    error_->setText(error.isNull() ? QString() : error.localizedDescription());
    showSettings();
    emit changeFinished();
}

void SyncDialog::setBusy(bool busy)
{
    busy_ = busy;
    busyIndicator_->setVisible(busy);
    for (QWidget* control : {static_cast<QWidget*>(chooseFolder_), static_cast<QWidget*>(localStore_),
                             static_cast<QWidget*>(sharedStore_), static_cast<QWidget*>(cloudSwitch_)})
        control->setEnabled(!busy);
    storeChoiceChanged();
}

void SyncDialog::refreshStatus()
{
    const QStringList lines = QStringList{tr("Sync folder: %1").arg(cloud_->localizedStatus())}
                              + CloudSetup::storeStatus(relayOf(*cloud_));
    status_->setText(lines.join(QLatin1Char('\n')));
}

QString SyncDialog::errorText() const
{
    return error_->text();
}

QString SyncDialog::statusText() const
{
    return status_->text();
}
