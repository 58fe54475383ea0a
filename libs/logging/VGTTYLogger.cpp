#include "VGTTYLogger.h"

#include "VGLog.h"
#include "VGLogIO.h"
#include "VGLogMessage.h"
#include "VGLogTimestamp.h"

#include <QStringEncoder>

#include <atomic>
#include <charconv>
#include <cerrno>
#include <memory>
#include <mutex>

#include <unistd.h>

namespace {

std::mutex instanceMutex;
std::shared_ptr<VGTTYLogger> instance;
// Set once, by the first logger made; read without the lock.
std::atomic<const VGTTYColorPalette*> classPalette{nullptr};

void fixClassPalette()
{
    // Never destroyed, as the other palette: colours may still be set on the logger's queue at exit.
    static const VGTTYColorPalette* const fromEnvironment = new VGTTYColorPalette(VGTTYColorPalette::fromEnvironment());
    classPalette.store(fromEnvironment, std::memory_order_release);
}

// A batch is written once it grows past this, and at its end.
constexpr qsizetype BatchBytes = 64 * 1024;

} // namespace

std::shared_ptr<VGTTYLogger> VGTTYLogger::sharedInstance()
{
    std::lock_guard lock(instanceMutex);
    if (!instance) {
        fixClassPalette();
        instance = std::shared_ptr<VGTTYLogger>(new VGTTYLogger);
    }
    return instance;
}

std::shared_ptr<VGTTYLogger> VGTTYLogger::create()
{
    std::lock_guard lock(instanceMutex);
    if (instance)
        return nullptr;
    fixClassPalette();
    return std::shared_ptr<VGTTYLogger>(new VGTTYLogger);
}

const VGTTYColorPalette& VGTTYLogger::palette()
{
    static const VGTTYColorPalette* const none = new VGTTYColorPalette(VGTTYColorPalette::none());
    const VGTTYColorPalette* const palette = classPalette.load(std::memory_order_acquire);
    return palette ? *palette : *none;
}

VGTTYLogger::VGTTYLogger() : VGAbstractLogger(QStringLiteral("vg.logging.ttyLogger"))
{
    app_ = QByteArray(program_invocation_short_name);
    if (app_.isEmpty())
        app_ = "<UnnamedApp>";
    pid_ = QByteArray::number(getpid());
}

bool VGTTYLogger::colorsEnabled()
{
    return readOnQueue<bool>([this] { return colorsEnabled_; });
}

void VGTTYLogger::setColorsEnabled(bool enabled)
{
    performOnQueue([enabled](VGAbstractLogger& logger) {
        auto& self = static_cast<VGTTYLogger&>(logger);
        self.colorsEnabled_ = enabled;
        if (self.colorProfiles_.isEmpty())
            self.loadDefaultColorProfiles();
    });
}

void VGTTYLogger::loadDefaultColorProfiles()
{
    setForegroundColor(VGTTYColor::fromBytes(214, 57, 30), std::nullopt, LogFlagError);
    setForegroundColor(VGTTYColor::fromBytes(204, 121, 32), std::nullopt, LogFlagWarning);
}

void VGTTYLogger::changeProfiles(std::function<void(VGTTYLogger&)> change)
{
    if (isOnInternalLoggerQueue()) {
        change(*this);
        return;
    }
    performOnQueue([change = std::move(change)](VGAbstractLogger& logger) { change(static_cast<VGTTYLogger&>(logger)); });
}

void VGTTYLogger::setForegroundColor(std::optional<VGTTYColor> foreground, std::optional<VGTTYColor> background,
                                     int32_t mask, int32_t context)
{
    const auto profile = VGTTYLoggerColorProfile::create(foreground, background, mask, context, palette());
    if (!profile)
        return;
    changeProfiles([profile = *profile](VGTTYLogger& self) {
        for (auto& existing : self.colorProfiles_) {
            if (existing.mask() == profile.mask() && existing.context() == profile.context()) {
                existing = profile;
                return;
            }
        }
        self.colorProfiles_ << profile;
    });
}

void VGTTYLogger::setForegroundColorForTag(std::optional<VGTTYColor> foreground, std::optional<VGTTYColor> background,
                                           const QVariant& tag)
{
    const auto profile = VGTTYLoggerColorProfile::create(foreground, background, 0, 0, palette());
    if (!profile)
        return;
    changeProfiles([tag, profile = *profile](VGTTYLogger& self) {
        for (auto& [existingTag, existing] : self.tagProfiles_) {
            if (existingTag == tag) {
                existing = profile;
                return;
            }
        }
        self.tagProfiles_.append({tag, profile});
    });
}

void VGTTYLogger::clearColorsForFlag(int32_t mask, int32_t context)
{
    changeProfiles([mask, context](VGTTYLogger& self) {
        for (qsizetype i = 0; i < self.colorProfiles_.size(); ++i) {
            if (self.colorProfiles_[i].mask() == mask && self.colorProfiles_[i].context() == context) {
                self.colorProfiles_.removeAt(i);
                return;
            }
        }
    });
}

void VGTTYLogger::clearColorsForTag(const QVariant& tag)
{
    changeProfiles([tag](VGTTYLogger& self) {
        self.tagProfiles_.removeIf([&](const auto& entry) { return entry.first == tag; });
    });
}

void VGTTYLogger::clearColorsForAllFlags()
{
    changeProfiles([](VGTTYLogger& self) { self.colorProfiles_.clear(); });
}

void VGTTYLogger::clearColorsForAllTags()
{
    changeProfiles([](VGTTYLogger& self) { self.tagProfiles_.clear(); });
}

void VGTTYLogger::clearAllColors()
{
    changeProfiles([](VGTTYLogger& self) {
        self.colorProfiles_.clear();
        self.tagProfiles_.clear();
    });
}

const VGTTYLoggerColorProfile* VGTTYLogger::profileFor(const VGLogMessage& message) const
{
    if (message.tag().isValid()) {
        for (const auto& [tag, profile] : tagProfiles_) {
            if (tag == message.tag())
                return &profile;
        }
    }
    const VGTTYLoggerColorProfile* chosen = nullptr;
    for (const auto& profile : colorProfiles_) {
        if (!(profile.mask() & message.logFlag()))
            continue;
        if (profile.context() == message.logContext())
            return &profile;
        if (profile.context() == VGTTYLoggerColorProfile::AnyContext)
            chosen = &profile;
    }
    return chosen;
}

void VGTTYLogger::logMessage(const VGLogMessage& message)
{
    std::optional<QString> formattedText;
    if (formatter_) {
        formattedText = formatter_->formatLogMessage(message);
        if (!formattedText)
            return;
    }
    const QString& text = formattedText ? *formattedText : message.logMsg();
    // A formatter that hands back the message's own text leaves the line format in place.
    const bool formatted = formattedText && formattedText->constData() != message.logMsg().constData();

    const VGTTYLoggerColorProfile* profile = colorsEnabled_ ? profileFor(message) : nullptr;
    const qsizetype lineStart = pending_.size();
    if (profile)
        pending_.append(profile->fgCode()).append(profile->bgCode());
    if (!formatted) {
        char stamp[VGLogTimestamp::Length];
        VGLogTimestamp::write(stamp, message.timestamp(), '-');
        // Lower-case hexadecimal, as "%x" writes it, at a fraction of snprintf's cost.
        char thread[8];
        const char* const threadEnd = std::to_chars(thread, thread + sizeof thread, message.machThreadID(), 16).ptr;
        pending_.append(stamp, VGLogTimestamp::Length).append(' ').append(app_).append('[').append(pid_).append(':');
        pending_.append(thread, threadEnd - thread).append("] ", 2);
    }
    // The text is encoded straight into the batch.
    QStringEncoder encoder(QStringEncoder::Utf8);
    const qsizetype textStart = pending_.size();
    pending_.resize(textStart + encoder.requiredSpace(text.size()));
    char* const textEnd = encoder.appendToBuffer(pending_.data() + textStart, text);
    if (encoder.hasError()) {
        pending_.truncate(lineStart);
        return;
    }
    pending_.truncate(textEnd - pending_.constData());
    const bool endsWithNewline = pending_.size() > textStart && pending_.endsWith('\n');
    if (!endsWithNewline && (!formatted || appendNewline_.load()))
        pending_.append('\n');
    if (profile)
        pending_.append(profile->resetCode());
    if (pending_.size() >= BatchBytes)
        writePending();
}

void VGTTYLogger::didLogBatch() { writePending(); }

void VGTTYLogger::flush() { writePending(); }

void VGTTYLogger::writePending()
{
    if (pending_.isEmpty())
        return;
    VGLogIO::writeAll(STDERR_FILENO, pending_.constData(), size_t(pending_.size()));
    pending_.resize(0); // keeps the capacity for the next batch
}
