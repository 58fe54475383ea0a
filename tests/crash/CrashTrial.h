#pragma once

// What the crash trials share: a child test run in a process of its own that
// journals its progress and is killed with SIGKILL once it wrote a chosen
// number of lines; a fresh child on the same folders then judges what the
// first one left. The parent runs seeded trials side by side, printing each
// seed; "--trials N" and "--seed S" on the command line choose them, so a
// failing seed can be run alone with "--trials 1 --seed S".

#include <QString>

#include <cstdint>
#include <functional>

namespace CrashTrial {

// The value after a name on the command line.
QString argumentAfter(const QString& name, const QString& fallback);

// In a child: its role ("work" or "verify"), its store folder and its seed.
QString role();
QString store();
uint32_t seed();

// In the working child: one line to the parent, written whole; a child that
// cannot write it exits.
void journal(const QString& line);

// Runs the child test (a DISABLED_ one, by its full name) as "work" until it
// wrote killAfter journal lines, then, killDelayMicroseconds later, kills it;
// its journal goes to "<store>/journal". Then a fresh one runs as "verify".
// Empty when the trial passed, else what went wrong.
QString run(const char* childTest, uint32_t seed, const QString& store, int killAfter, int killDelayMicroseconds = 0);

// Runs the trials (the default count unless the command line says otherwise),
// two or more at once, each in "<home>/<name>/<seed>"; the failures, one a
// line, each with its seed.
QString runTrials(const QString& name, int defaultTrials,
                  const std::function<QString(uint32_t seed, const QString& store)>& trial);

} // namespace CrashTrial
