#pragma once

#include "VGAbstractLogger.h"
#include "VGTTYLoggerColorProfile.h"

#include <QByteArray>
#include <QList>
#include <QVariant>

#include <atomic>
#include <memory>
#include <optional>
#include <utility>

// Writes each message as one line to standard error, in one gathered write:
// "2026-03-02 09:05:03:042 Notes[812:1a03] core:open db". Lines can be coloured
// by flag, context or tag. There is one shared instance.
class VGTTYLogger : public VGAbstractLogger {
public:
    // Made on first call; the terminal's colour abilities are read from the environment then.
    static std::shared_ptr<VGTTYLogger> sharedInstance();
    // A second logger: none once the shared instance exists.
    static std::shared_ptr<VGTTYLogger> create();

    // Lines are gathered over a run of messages and written in one call at its end.
    void logMessage(const VGLogMessage& message) override;
    void didLogBatch() override;
    void flush() override;

    bool colorsEnabled();
    // Turning colours on or off loads the default profiles when no flag profile exists.
    void setColorsEnabled(bool enabled);
    void loadDefaultColorProfiles();

    void setForegroundColor(std::optional<VGTTYColor> foreground, std::optional<VGTTYColor> background, int32_t mask,
                            int32_t context = VGTTYLoggerColorProfile::AnyContext);
    void setForegroundColorForTag(std::optional<VGTTYColor> foreground, std::optional<VGTTYColor> background,
                                  const QVariant& tag);
    void clearColorsForFlag(int32_t mask, int32_t context = 0);
    void clearColorsForTag(const QVariant& tag);
    void clearColorsForAllFlags();
    void clearColorsForAllTags();
    void clearAllColors();

    bool automaticallyAppendNewlineForCustomFormatters() const { return appendNewline_; }
    void setAutomaticallyAppendNewlineForCustomFormatters(bool value) { appendNewline_ = value; }

    // The class-wide palette, fixed when the shared instance was made.
    static const VGTTYColorPalette& palette();

private:
    VGTTYLogger();
    // Runs the change at once on the logger's queue, else after the messages queued so far.
    void changeProfiles(std::function<void(VGTTYLogger&)> change);
    const VGTTYLoggerColorProfile* profileFor(const VGLogMessage& message) const;
    void writePending();

    QByteArray app_;
    QByteArray pid_;
    std::atomic<bool> appendNewline_ {true};
    // Touched only on the logger's queue.
    bool colorsEnabled_ = false;
    QList<VGTTYLoggerColorProfile> colorProfiles_;
    QList<std::pair<QVariant, VGTTYLoggerColorProfile>> tagProfiles_;
    QByteArray pending_;
};
