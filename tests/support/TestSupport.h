#pragma once

#include <QString>

#include <random>

// Helpers shared by the test programs.
namespace TestSupport {

// How many times slower the sanitizer build (unoptimised and instrumented) runs: a bound that only
// stops a runaway, and a count of random rounds, scale by it.
#ifdef __SANITIZE_ADDRESS__
inline constexpr int SlowerBuild = 8;
#else
inline constexpr int SlowerBuild = 1;
#endif

// The temporary home of this test process.
QString home();

// Writes bytes to a file, creating its folder; fails the test on error.
void writeFile(const QString& path, const QByteArray& bytes);
QByteArray readFile(const QString& path);
// The permission bits of the entry (followed through links), or -1 when missing.
int modeOf(const QString& path);

// Up to longest units drawn from the alphabet: short strings over a few
// chosen characters meet the edges of a scan far more often than real text.
QString randomString(std::mt19937& random, const QString& alphabet, int longest);

// Switches the dispatch clock to virtual time for the life of the object.
class VirtualTime {
public:
    VirtualTime();
    ~VirtualTime();
    void advance(double seconds);
};

} // namespace TestSupport
