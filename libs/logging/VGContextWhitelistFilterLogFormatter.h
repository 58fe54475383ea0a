#pragma once

#include "VGLogFormatter.h"
#include "VGLoggingContextSet.h"

// Lets through only messages whose context is on the list; an empty list drops all.
// A message let through keeps its own text.
class VGContextWhitelistFilterLogFormatter : public VGLogFormatter {
public:
    void addToWhitelist(int32_t context) { contextSet_.addToSet(context); }
    void removeFromWhitelist(int32_t context) { contextSet_.removeFromSet(context); }
    QList<int32_t> whitelist() const { return contextSet_.currentSet(); }
    bool isOnWhitelist(int32_t context) const { return contextSet_.isInSet(context); }

    std::optional<QString> formatLogMessage(const VGLogMessage& message) override;

private:
    VGLoggingContextSet contextSet_;
};
