#pragma once

#include <QString>

#include <cstdint>

// Takes the records this process writes to the system journal by other means than
// this library (from the second capture started on) and passes each to the loggers
// as a message of file "VGASLLogCapture", with a flag from the record's priority.
// Records that carry the library's own marker, or came from the process's standard
// output or error, are left out, so nothing goes round in a loop.
class VGASLLogCapture {
public:
    struct Routing {
        int32_t flag;
        bool synchronous;
    };

    // Idempotent while capturing; start and stop may be called from any thread.
    static void start();
    static void stop();
    static bool isCapturing();

    // A mask of flags; records whose flag is not in it are dropped. 31 at start.
    static int32_t captureLogLevel();
    static void setCaptureLogLevel(int32_t level);

    // Reads the journal files of this folder instead of the system journal; takes
    // effect at the next start. Empty: the system journal.
    static void setJournalDirectory(const QString& directory);

    // Priorities 0-2: error, synchronous; 3 warning; 4 info; 5 debug; others verbose.
    static Routing routingForLevel(int level);
};
