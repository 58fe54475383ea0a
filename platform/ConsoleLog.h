#pragma once

#include <QString>

// The platform's console line: date and time, process name and pid, then the
// text, written to standard error in one call. The logging library and the
// database layer report their own failures here.
void consoleLog(const QString& text);
