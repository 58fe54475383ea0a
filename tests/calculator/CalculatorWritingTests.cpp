// Writing a pass's results into the note: the values land in place, and the
// bytes copied grow with the note, not with the note times its results. The
// copies are counted as they pass through memcpy and memmove, which this test
// program puts in front of the C library's.
#include "Calculator/Calculator.h"
#include "Calculator/CalculatorResultWriter.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <memory>

extern "C" {
void* __memcpy_chk(void* to, const void* from, std::size_t size, std::size_t room) noexcept;
void* __memmove_chk(void* to, const void* from, std::size_t size, std::size_t room) noexcept;
}

namespace {

thread_local bool counting = false;
thread_local std::size_t copiedBytes = 0;

void count(std::size_t size)
{
    if (counting)
        copiedBytes += size;
}

} // namespace

// The checked entry points copy as the plain ones do and are not replaced here.
extern "C" void* memcpy(void* to, const void* from, std::size_t size) noexcept
{
    count(size);
    return __memcpy_chk(to, from, size, size);
}

extern "C" void* memmove(void* to, const void* from, std::size_t size) noexcept
{
    count(size);
    return __memmove_chk(to, from, size, size);
}

namespace {

QString noteOfLines(int lines) { return QStringLiteral("1+2*3-4/5 =>\n").repeated(lines); }

struct Written {
    QString text;
    std::size_t copiedBytes = 0;
};

// One pass over the whole note and its results written, counting the bytes copied meanwhile.
Written calculated(const QString& note)
{
    Calculator calculator;
    const auto writer = std::make_shared<CalculatorResultWriter>();
    calculator.setDelegate(writer);
    copiedBytes = 0;
    counting = true;
    calculator.parseText(note, {0, note.size()});
    Written written {writer->applied(note), 0};
    counting = false;
    written.copiedBytes = copiedBytes;
    return written;
}

} // namespace

TEST(CalculatorWriting, ResultsLandInPlaceOfTheirRanges)
{
    const QString note = QStringLiteral("Rent 500 + Food 200 =>\n  a = 2 => 7 // old value\n\n"
                                        "Total: a * 3 =>  -12.5 tail\n=>\n");
    EXPECT_EQ(calculated(note).text, QStringLiteral("Rent 500 + Food 200 =>700\n  a = 2 => 2 // old value\n\n"
                                                    "Total: a * 3 =>  6 tail\n=>6\n"));
    EXPECT_EQ(calculated(QStringLiteral("no marker\n")).text, QStringLiteral("no marker\n"));
}

TEST(CalculatorWriting, CopiesGrowWithTheNoteNotWithItsResults)
{
    const Written small = calculated(noteOfLines(1000));
    const Written large = calculated(noteOfLines(4000));
    EXPECT_EQ(large.text, QStringLiteral("1+2*3-4/5 =>6.2\n").repeated(4000));
    ASSERT_GT(small.copiedBytes, 0u);
    // Four times the lines: four times the copies, where a copy of the rest of the note per result made sixteen.
    EXPECT_LE(double(large.copiedBytes) / double(small.copiedBytes), 5.0)
        << small.copiedBytes << " then " << large.copiedBytes;
}
