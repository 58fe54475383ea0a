// Any text evaluates to a number or is refused with an error of the math
// library's domain and one of its codes, without crashing or recursing off
// the stack: in double and in decimals, with angles in radians or in
// degrees. A text that parses is also rewritten, which must give a tree.
#include "QVExpression.h"
#include "QVMathError.h"
#include "QVMathEvaluator.h"

#include <array>
#include <cstdint>
#include <cstdlib>

static void check(bool condition)
{
    if (!condition)
        std::abort();
}

static std::array<QVMathEvaluator, 4>& evaluators()
{
    static std::array<QVMathEvaluator, 4> all;
    static const bool configured = [] {
        for (size_t i = 0; i < all.size(); ++i) {
            all[i].setUsesHighPrecisionEvaluation(i & 1);
            all[i].setAngleMeasurementMode(int64_t(i >> 1));
        }
        return true;
    }();
    (void)configured;
    return all;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    // stddev and percent evaluate an operand twice by design, so nesting them
    // costs 2^depth: a few dozen levels are slow, not faulty.
    if (text.count(QStringLiteral("stddev"), Qt::CaseInsensitive) + text.count(QStringLiteral("percent"), Qt::CaseInsensitive) > 12)
        return 0;
    // Double and decimal every time; the angle mode alternates between inputs,
    // which halves the cost of a run and still reaches both modes.
    for (size_t i = size & 1 ? 2 : 0, end = i + 2; i < end; ++i) {
        Error error;
        const auto value = evaluators()[i].evaluateString(text, {}, &error);
        if (!value)
            check(error.domain == QVMathError::domain() && error.code >= 1 && error.code <= 18);
    }
    if (const QVExpressionPtr tree = QVExpression::expressionFromString(text))
        check(evaluators().front().expressionByRewritingExpression(tree) != nullptr);
    return 0;
}
