#pragma once

#include "VGLogFormatter.h"
#include "VGLoggingContextSet.h"

// Drops messages whose context is on the list; an empty list lets all through.
// A message let through keeps its own text.
class VGContextBlacklistFilterLogFormatter : public VGLogFormatter {
public:
    void addToBlacklist(int32_t context) { contextSet_.addToSet(context); }
    void removeFromBlacklist(int32_t context) { contextSet_.removeFromSet(context); }
    QList<int32_t> blacklist() const { return contextSet_.currentSet(); }
    bool isOnBlacklist(int32_t context) const { return contextSet_.isInSet(context); }

    std::optional<QString> formatLogMessage(const VGLogMessage& message) override;

private:
    VGLoggingContextSet contextSet_;
};
