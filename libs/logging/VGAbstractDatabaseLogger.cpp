#include "VGAbstractDatabaseLogger.h"

#include "Dispatch.h"

VGAbstractDatabaseLogger::VGAbstractDatabaseLogger(const QString& loggerName) : VGAbstractLogger(loggerName) {}

VGAbstractDatabaseLogger::~VGAbstractDatabaseLogger()
{
    destroySaveTimer();
    destroyDeleteTimer();
}

bool VGAbstractDatabaseLogger::db_log(const VGLogMessage& /*message*/) { return false; }

void VGAbstractDatabaseLogger::onQueue(std::function<void(VGAbstractDatabaseLogger&)> work)
{
    if (isOnInternalLoggerQueue()) {
        work(*this);
        return;
    }
    performOnQueue([work = std::move(work)](VGAbstractLogger& logger) {
        work(static_cast<VGAbstractDatabaseLogger&>(logger));
    });
}

uint64_t VGAbstractDatabaseLogger::saveThreshold()
{
    return readOnQueue<uint64_t>([this] { return saveThreshold_; });
}

void VGAbstractDatabaseLogger::setSaveThreshold(uint64_t count)
{
    onQueue([count](VGAbstractDatabaseLogger& self) {
        if (count == self.saveThreshold_)
            return;
        self.saveThreshold_ = count;
        if (count != 0 && self.unsavedCount_ >= count)
            self.performSaveAndSuspendSaveTimer();
    });
}

double VGAbstractDatabaseLogger::saveInterval()
{
    return readOnQueue<double>([this] { return saveInterval_; });
}

void VGAbstractDatabaseLogger::setSaveInterval(double seconds)
{
    onQueue([seconds](VGAbstractDatabaseLogger& self) {
        if (seconds == self.saveInterval_)
            return;
        self.saveInterval_ = seconds;
        if (seconds > 0) {
            self.createSuspendedSaveTimer();
            self.updateAndResumeSaveTimer();
        } else {
            self.destroySaveTimer();
        }
    });
}

double VGAbstractDatabaseLogger::maxAge()
{
    return readOnQueue<double>([this] { return maxAge_; });
}

void VGAbstractDatabaseLogger::setMaxAge(double seconds)
{
    onQueue([seconds](VGAbstractDatabaseLogger& self) {
        const double old = self.maxAge_;
        if (seconds == old)
            return;
        self.maxAge_ = seconds;
        if (old > 0 && seconds <= 0) {
            self.destroyDeleteTimer();
        } else if (seconds > 0 && (old <= 0 || seconds < old)) {
            self.performDelete();
            if (self.deleteTimer_)
                self.updateDeleteTimer();
            else
                self.createAndStartDeleteTimer();
        }
    });
}

double VGAbstractDatabaseLogger::deleteInterval()
{
    return readOnQueue<double>([this] { return deleteInterval_; });
}

void VGAbstractDatabaseLogger::setDeleteInterval(double seconds)
{
    onQueue([seconds](VGAbstractDatabaseLogger& self) {
        if (seconds == self.deleteInterval_)
            return;
        self.deleteInterval_ = seconds;
        if (seconds <= 0)
            self.destroyDeleteTimer();
        else if (self.deleteTimer_)
            self.updateDeleteTimer();
        else
            self.createAndStartDeleteTimer();
    });
}

bool VGAbstractDatabaseLogger::deleteOnEverySave()
{
    return readOnQueue<bool>([this] { return deleteOnEverySave_; });
}

void VGAbstractDatabaseLogger::setDeleteOnEverySave(bool value)
{
    onQueue([value](VGAbstractDatabaseLogger& self) { self.deleteOnEverySave_ = value; });
}

void VGAbstractDatabaseLogger::savePendingLogEntries()
{
    onQueue([](VGAbstractDatabaseLogger& self) { self.performSaveAndSuspendSaveTimer(); });
}

void VGAbstractDatabaseLogger::deleteOldLogEntries()
{
    onQueue([](VGAbstractDatabaseLogger& self) { self.performDelete(); });
}

void VGAbstractDatabaseLogger::logMessage(const VGLogMessage& message)
{
    if (!db_log(message))
        return;
    const bool first = unsavedCount_ == 0;
    ++unsavedCount_;
    if (saveThreshold_ != 0 && unsavedCount_ >= saveThreshold_) {
        performSaveAndSuspendSaveTimer();
    } else if (first) {
        // The batch is saved at the latest saveInterval after its first entry.
        unsavedTime_ = DispatchTime::now();
        updateAndResumeSaveTimer();
    }
}

void VGAbstractDatabaseLogger::didAddLogger()
{
    createSuspendedSaveTimer();
    createAndStartDeleteTimer();
}

void VGAbstractDatabaseLogger::willRemoveLogger()
{
    performSaveAndSuspendSaveTimer();
    destroySaveTimer();
    destroyDeleteTimer();
}

void VGAbstractDatabaseLogger::flush() { performSaveAndSuspendSaveTimer(); }

void VGAbstractDatabaseLogger::performSaveAndSuspendSaveTimer()
{
    if (unsavedCount_ > 0) {
        if (deleteOnEverySave_)
            db_saveAndDelete();
        else
            db_save();
    }
    unsavedCount_ = 0;
    unsavedTime_.reset();
    saveTimer_.reset();
}

void VGAbstractDatabaseLogger::performDelete()
{
    if (maxAge_ <= 0)
        return;
    db_delete();
    lastDeleteTime_ = DispatchTime::now();
}

std::unique_ptr<DispatchTimer> VGAbstractDatabaseLogger::makeTimer(void (VGAbstractDatabaseLogger::*handler)())
{
    std::weak_ptr<VGLogger> weak = weak_from_this();
    return std::make_unique<DispatchTimer>(loggerQueue(), [weak, handler] {
        if (const auto self = weak.lock())
            (static_cast<VGAbstractDatabaseLogger&>(*self).*handler)();
    });
}

void VGAbstractDatabaseLogger::createSuspendedSaveTimer()
{
    if (!saveTimerExists_ && saveInterval_ > 0)
        saveTimerExists_ = true;
}

void VGAbstractDatabaseLogger::updateAndResumeSaveTimer()
{
    if (!saveTimerExists_ || saveInterval_ <= 0 || !unsavedTime_)
        return;
    saveTimer_ = makeTimer(&VGAbstractDatabaseLogger::performSaveAndSuspendSaveTimer);
    saveTimer_->start(std::max(0.0, *unsavedTime_ + saveInterval_ - DispatchTime::now()), saveInterval_, 1e-9);
}

void VGAbstractDatabaseLogger::destroySaveTimer()
{
    saveTimer_.reset();
    saveTimerExists_ = false;
}

void VGAbstractDatabaseLogger::createAndStartDeleteTimer()
{
    if (deleteTimer_ || deleteInterval_ <= 0 || maxAge_ <= 0)
        return;
    deleteTimer_ = makeTimer(&VGAbstractDatabaseLogger::performDelete);
    updateDeleteTimer();
}

void VGAbstractDatabaseLogger::updateDeleteTimer()
{
    if (!deleteTimer_ || deleteInterval_ <= 0 || maxAge_ <= 0)
        return;
    const double from = lastDeleteTime_.value_or(DispatchTime::now());
    deleteTimer_->start(std::max(0.0, from + deleteInterval_ - DispatchTime::now()), deleteInterval_, 1e-9);
}

void VGAbstractDatabaseLogger::destroyDeleteTimer() { deleteTimer_.reset(); }
