// Any text evaluates to a number or is refused with an error of the math
// library's domain and one of its codes, without crashing or recursing off
// the stack.
#include "QVMathError.h"
#include "QVMathEvaluator.h"

#include <cstdint>
#include <cstdlib>

static void check(bool condition)
{
    if (!condition)
        std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    // stddev and percent evaluate an operand twice by design, so nesting them
    // costs 2^depth: a few dozen levels are slow, not faulty.
    if (text.count(QStringLiteral("stddev"), Qt::CaseInsensitive) + text.count(QStringLiteral("percent"), Qt::CaseInsensitive) > 12)
        return 0;
    static QVMathEvaluator evaluator;
    Error error;
    const auto value = evaluator.evaluateString(text, {}, &error);
    if (!value)
        check(error.domain == QVMathError::domain() && error.code >= 1 && error.code <= 18);
    return 0;
}
