// Any text either tokenizes into a list the parser can take, or is refused
// with the one error the default operator set leaves: too many tokens.
#include "QVMathError.h"
#include "QVMathStringTokenizer.h"

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
    Error error;
    const auto tokenizer = QVMathStringTokenizer::tokenizerWithString(text, nullptr, &error);
    if (!tokenizer) {
        check(error.domain == QVMathError::domain() && error.code == 1);
        return 0;
    }
    const QList<QVMathStringToken> tokens = tokenizer->allObjects();
    check(tokens.size() <= QVMathStringTokenizer::maximumTokenCount);
    for (qsizetype i = 0; i < tokens.size(); ++i) {
        const QVMathStringToken& token = tokens.at(i);
        check(!token.isAmbiguous() && token.operatorType() != QLatin1String("positive"));
        check(token.numberValue().has_value() == (token.tokenType() == QVMathStringTokenType::Number));
        if (token.tokenType() == QVMathStringTokenType::Function)
            check(i + 1 < tokens.size() && tokens.at(i + 1).operatorType() == QLatin1String("open_paren"));
    }
    return 0;
}
