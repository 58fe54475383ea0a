#pragma once

#include "VGAbstractLogger.h"

#include <memory>

// Sends each message to the system log: the journal when its socket is there (with
// the source file, line and function, and a field that marks the library's own
// records), else syslog. There is one shared instance.
class VGASLLogger : public VGAbstractLogger {
public:
    // The file of messages taken from the system log; they are not written back.
    static inline const char* const CaptureFile = "VGASLLogCapture";
    // The journal field on every record this logger writes.
    static inline const char* const MarkerField = "VG_LOGGING";

    static std::shared_ptr<VGASLLogger> sharedInstance();
    // A second logger: none once the shared instance exists.
    static std::shared_ptr<VGASLLogger> create();

    // Error 2 (critical), warning 3, info 4, anything else 5 (notice).
    static int levelForFlag(int32_t flag);

    void logMessage(const VGLogMessage& message) override;

private:
    VGASLLogger();

    bool journal_ = false;
};
