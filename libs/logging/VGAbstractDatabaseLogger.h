#pragma once

#include "VGAbstractLogger.h"

#include <memory>
#include <optional>

class DispatchTimer;

// The base of loggers that keep messages in a database. It decides when the
// subclass saves what it collected (after saveThreshold entries, or saveInterval
// seconds after the first unsaved one) and when it deletes entries older than
// maxAge (every deleteInterval seconds); the storage itself is the subclass's.
class VGAbstractDatabaseLogger : public VGAbstractLogger {
public:
    explicit VGAbstractDatabaseLogger(const QString& loggerName = QStringLiteral("VGAbstractDatabaseLogger"));
    ~VGAbstractDatabaseLogger() override;

    // Read after, and changed in order with, the messages queued so far.
    uint64_t saveThreshold();           // 500; 0: no count limit
    void setSaveThreshold(uint64_t count);
    double saveInterval();              // 60 s; 0 or less: no save timer
    void setSaveInterval(double seconds);
    double maxAge();                    // 7 days; 0 or less: never delete
    void setMaxAge(double seconds);
    double deleteInterval();            // 5 minutes; 0 or less: no periodic deletion
    void setDeleteInterval(double seconds);
    bool deleteOnEverySave();           // each save also deletes old entries
    void setDeleteOnEverySave(bool value);

    void savePendingLogEntries();
    void deleteOldLogEntries();

    void logMessage(const VGLogMessage& message) override;
    void didAddLogger() override;
    void willRemoveLogger() override;
    void flush() override;

protected:
    // Take the entry into the pending batch and answer true, or false to ignore it.
    virtual bool db_log(const VGLogMessage& message);
    virtual void db_save() {}
    // Delete entries older than maxAge.
    virtual void db_delete() {}
    virtual void db_saveAndDelete() {}

private:
    // Runs at once on the logger's queue, else after the messages queued so far.
    void onQueue(std::function<void(VGAbstractDatabaseLogger&)> work);
    void performSaveAndSuspendSaveTimer();
    void performDelete();
    void createSuspendedSaveTimer();
    void updateAndResumeSaveTimer();
    void destroySaveTimer();
    void createAndStartDeleteTimer();
    void updateDeleteTimer();
    void destroyDeleteTimer();
    std::unique_ptr<DispatchTimer> makeTimer(void (VGAbstractDatabaseLogger::*handler)());

    // Touched only on the logger's queue. Times are on the dispatch clock.
    uint64_t saveThreshold_ = 500;
    double saveInterval_ = 60;
    double maxAge_ = 60 * 60 * 24 * 7;
    double deleteInterval_ = 60 * 5;
    bool deleteOnEverySave_ = false;
    uint64_t unsavedCount_ = 0;
    std::optional<double> unsavedTime_; // when the first unsaved entry came
    // The save timer exists while saveTimerExists_; it is armed only while entries wait.
    bool saveTimerExists_ = false;
    std::unique_ptr<DispatchTimer> saveTimer_;
    std::optional<double> lastDeleteTime_;
    std::unique_ptr<DispatchTimer> deleteTimer_;
};
