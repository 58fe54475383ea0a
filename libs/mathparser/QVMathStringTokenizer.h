#pragma once

#include "Error.h"
#include "QVMathOperatorSet.h"
#include "QVMathStringToken.h"

#include <QList>
#include <QString>

#include <bitset>
#include <memory>
#include <optional>
#include <vector>

// Turns a math string into tokens at creation: resolves "-", "+" and "!" by
// what precedes them, drops unary plus, gives a bare function name its "()"
// and writes out implied multiplications ("2x" is 2 * x ( )). Then hands the
// tokens out one at a time. The text is read as UTF-16 units; a U+0000 ends it.
class QVMathStringTokenizer {
public:
    // The parser reduces tokens recursively and in quadratic time: a longer
    // expression is refused outright.
    static constexpr qsizetype maximumTokenCount = 4096;

    // The operator set decides which characters are operator characters (the
    // shared default set when none is given); tokens always resolve through
    // the default set. Null with error code 1, 3 or 6 when the text fails.
    static std::unique_ptr<QVMathStringTokenizer> tokenizerWithString(
        const QString& text, std::shared_ptr<QVMathOperatorSet> operatorSet = nullptr, Error* error = nullptr);

    std::optional<QVMathStringToken> nextObject();
    std::optional<QVMathStringToken> peekNextObject() const;
    QList<QVMathStringToken> allObjects() const; // from the position on, without moving it
    void reset();
    void appendToken(const std::optional<QVMathStringToken>& token);

    const std::shared_ptr<QVMathOperatorSet>& operatorSet() const { return m_operatorSet; }
    // Every UTF-16 unit of any token of the set's operators.
    const std::bitset<0x10000>& operatorCharacters() const { return m_operatorCharacters; }

private:
    QVMathStringTokenizer(const QString& text, std::shared_ptr<QVMathOperatorSet> operatorSet);
    bool tokenize(Error* error);

    // Each scanner starts at the current position and, failing, returns to it.
    std::optional<QVMathStringToken> nextToken(Error* error);
    std::optional<QVMathStringToken> parseNumber(Error* error);
    std::optional<QVMathStringToken> parseHexNumber(Error* error);
    std::optional<QVMathStringToken> parseFunction(Error* error);
    std::optional<QVMathStringToken> parseVariable(Error* error);
    std::optional<QVMathStringToken> parseStringVariable(Error* error);
    std::optional<QVMathStringToken> parseOperator(Error* error);

    bool processToken(std::optional<QVMathStringToken> token, Error* error);
    bool processUnknownOperatorToken(QVMathStringToken* token, Error* error);
    void processArgumentlessFunction(const QVMathStringToken* token);
    void processImplicitMultiplication(const QVMathStringToken* token);

    char16_t peekNextCharacter() const { return at(m_characters, m_characterIndex); }
    char16_t nextCharacter();
    char16_t at(const std::vector<char16_t>& buffer, size_t index) const;
    size_t skipDigits(bool hex);
    bool isOperatorCharacter(char16_t c) const { return c != 0 && m_operatorCharacters[c]; }
    QString text(const std::vector<char16_t>& buffer, size_t start, size_t end) const;

    std::vector<char16_t> m_characters;
    std::vector<char16_t> m_caseInsensitiveCharacters;
    size_t m_length = 0;
    size_t m_characterIndex = 0;
    QList<QVMathStringToken> m_tokens;
    qsizetype m_tokenIndex = 0;
    std::bitset<0x10000> m_operatorCharacters;
    std::shared_ptr<QVMathOperatorSet> m_operatorSet;
};
