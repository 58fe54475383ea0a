#include "VGTTYLogger.h"

#include "VGLog.h"
#include "VGLogIO.h"
#include "VGLogMessage.h"
#include "VGLogTimestamp.h"

#include <QStringEncoder>

#include <atomic>
#include <cerrno>
#include <cstdio>
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
    static const VGTTYColorPalette fromEnvironment = VGTTYColorPalette::fromEnvironment();
    classPalette.store(&fromEnvironment, std::memory_order_release);
}

constexpr size_t StackTextBytes = 4096;

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
    static const VGTTYColorPalette none = VGTTYColorPalette::none();
    const VGTTYColorPalette* const palette = classPalette.load(std::memory_order_acquire);
    return palette ? *palette : none;
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

    char stackText[StackTextBytes];
    std::unique_ptr<char[]> heapText;
    QStringEncoder encoder(QStringEncoder::Utf8);
    const qsizetype needed = encoder.requiredSpace(text.size());
    char* utf8 = stackText;
    if (size_t(needed) >= StackTextBytes) {
        heapText.reset(new (std::nothrow) char[size_t(needed) + 1]);
        if (!heapText)
            return;
        utf8 = heapText.get();
    }
    char* const utf8End = encoder.appendToBuffer(utf8, text);
    if (encoder.hasError())
        return;
    const size_t utf8Length = size_t(utf8End - utf8);
    const bool endsWithNewline = utf8Length > 0 && utf8[utf8Length - 1] == '\n';
    static const char newline = '\n';

    const VGTTYLoggerColorProfile* profile = colorsEnabled_ ? profileFor(message) : nullptr;
    static const QByteArray empty;
    const QByteArray& fg = profile ? profile->fgCode() : empty;
    const QByteArray& bg = profile ? profile->bgCode() : empty;
    const QByteArray& reset = profile ? profile->resetCode() : empty;
    const auto piece = [](const char* data, size_t length) { return iovec {const_cast<char*>(data), length}; };

    iovec pieces[13];
    int count = 0;
    pieces[count++] = piece(fg.constData(), size_t(fg.size()));
    pieces[count++] = piece(bg.constData(), size_t(bg.size()));
    char stamp[VGLogTimestamp::Length];
    char thread[9];
    if (formatted) {
        pieces[count++] = piece(utf8, utf8Length);
        pieces[count++] = piece(&newline, !endsWithNewline && appendNewline_.load() ? 1 : 0);
    } else {
        const VGLogTimestamp t = VGLogTimestamp::local(message.timestamp());
        t.write(stamp, '-');
        const int threadLength = std::snprintf(thread, sizeof thread, "%x", message.machThreadID());
        pieces[count++] = piece(stamp, VGLogTimestamp::Length);
        pieces[count++] = piece(" ", 1);
        pieces[count++] = piece(app_.constData(), size_t(app_.size()));
        pieces[count++] = piece("[", 1);
        pieces[count++] = piece(pid_.constData(), size_t(pid_.size()));
        pieces[count++] = piece(":", 1);
        pieces[count++] = piece(thread, size_t(std::clamp(threadLength, 0, int(sizeof thread) - 1)));
        pieces[count++] = piece("] ", 2);
        pieces[count++] = piece(utf8, utf8Length);
        pieces[count++] = piece(&newline, endsWithNewline ? 0 : 1);
    }
    pieces[count++] = piece(reset.constData(), size_t(reset.size()));
    VGLogIO::writeAll(STDERR_FILENO, pieces, count);
}
