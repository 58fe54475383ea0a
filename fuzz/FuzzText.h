#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>

// The input as UTF-16 units, byte pairs taken as they come: lone surrogates
// and NULs included, as broken files and pasted text can bring them.
inline QString fuzzText(const uint8_t* data, size_t size)
{
    QString text(qsizetype(size / 2), Qt::Uninitialized);
    for (size_t i = 0; i + 1 < size; i += 2)
        text[qsizetype(i / 2)] = QChar(char16_t(data[i] | (data[i + 1] << 8)));
    return text;
}

// A broken promise of the code under test: reported like any other crash.
#define FUZZ_CHECK(condition)                                                                                     \
    do {                                                                                                          \
        if (!(condition)) {                                                                                       \
            std::fprintf(stderr, "check failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__);                  \
            std::abort();                                                                                         \
        }                                                                                                         \
    } while (0)
