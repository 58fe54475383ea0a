#include "QVMathStringTokenizer.h"

#include "QVMathError.h"

#include <charconv>
#include <limits>

namespace {

using Type = QVMathStringTokenType;
using Arity = QVMathOperatorArity;
using Associativity = QVMathOperatorAssociativity;

bool isSingleCharacterFunction(char16_t c) { return c == u'\u03C0' || c == u'\u03D5' || c == u'\u03C4'; }

bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

bool isHexDigit(char16_t c) { return isDigit(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F'); }

std::optional<QVMathStringToken> operatorToken(const char* text)
{
    return QVMathStringToken::make(QString::fromLatin1(text), Type::Operator);
}

} // namespace

std::unique_ptr<QVMathStringTokenizer> QVMathStringTokenizer::tokenizerWithString(
    const QString& text, std::shared_ptr<QVMathOperatorSet> operatorSet, Error* error)
{
    std::unique_ptr<QVMathStringTokenizer> tokenizer(new QVMathStringTokenizer(text, std::move(operatorSet)));
    if (!tokenizer->tokenize(error))
        return nullptr;
    return tokenizer;
}

QVMathStringTokenizer::QVMathStringTokenizer(const QString& text, std::shared_ptr<QVMathOperatorSet> operatorSet)
    : m_characters(text.size() + 1, 0), m_caseInsensitiveCharacters(text.size() + 1, 0), m_length(text.size()),
      m_operatorSet(operatorSet ? std::move(operatorSet) : QVMathOperatorSet::defaultOperatorSet())
{
    for (size_t i = 0; i < m_length; ++i) {
        const QChar unit = text.at(qsizetype(i));
        m_characters[i] = unit.unicode();
        m_caseInsensitiveCharacters[i] = unit.toLower().unicode();
    }
    for (const auto& op : *m_operatorSet) {
        for (const QString& token : op->tokens()) {
            for (const QChar unit : token)
                m_operatorCharacters.set(unit.unicode());
        }
    }
}

bool QVMathStringTokenizer::tokenize(Error* error)
{
    for (;;) {
        Error readError;
        auto token = nextToken(&readError);
        if (!token) {
            if (!readError.isNull()) {
                setError(error, readError);
                return false;
            }
            break;
        }
        if (!processToken(std::move(token), error))
            return false;
        if (m_tokens.size() > maximumTokenCount) {
            setError(error, QVMathError::expressionTooLong());
            return false;
        }
    }
    if (!processToken(std::nullopt, error))
        return false;
    if (m_tokens.size() > maximumTokenCount) {
        setError(error, QVMathError::expressionTooLong());
        return false;
    }
    return true;
}

std::optional<QVMathStringToken> QVMathStringTokenizer::nextObject()
{
    if (m_tokenIndex >= m_tokens.size())
        return std::nullopt;
    return m_tokens.at(m_tokenIndex++);
}

std::optional<QVMathStringToken> QVMathStringTokenizer::peekNextObject() const
{
    if (m_tokenIndex >= m_tokens.size())
        return std::nullopt;
    return m_tokens.at(m_tokenIndex);
}

QList<QVMathStringToken> QVMathStringTokenizer::allObjects() const { return m_tokens.mid(m_tokenIndex); }

void QVMathStringTokenizer::reset()
{
    m_tokenIndex = 0;
    m_characterIndex = 0;
}

void QVMathStringTokenizer::appendToken(const std::optional<QVMathStringToken>& token)
{
    if (token)
        m_tokens.append(*token);
}

std::optional<QVMathStringToken> QVMathStringTokenizer::nextToken(Error* error)
{
    while (QChar::isSpace(peekNextCharacter()))
        ++m_characterIndex;
    const char16_t c = peekNextCharacter();
    if (c == 0)
        return std::nullopt;
    std::optional<QVMathStringToken> token;
    if (isDigit(c) || c == u'.')
        token = parseNumber(error);
    if (!token && c == u'$')
        token = parseVariable(error);
    if (!token && (c == u'"' || c == u'\''))
        token = parseStringVariable(error);
    if (!token)
        token = parseOperator(error);
    if (!token)
        token = parseFunction(error);
    if (token)
        *error = Error();
    return token;
}

std::optional<QVMathStringToken> QVMathStringTokenizer::parseNumber(Error* error)
{
    const size_t start = m_characterIndex;
    const char16_t x = at(m_characters, start + 1);
    if (peekNextCharacter() == u'0' && (x == u'x' || x == u'X')) {
        m_characterIndex += 2;
        auto token = parseHexNumber(error);
        if (!token)
            m_characterIndex = start;
        return token;
    }
    size_t digits = skipDigits(false);
    if (peekNextCharacter() == u'.') {
        ++m_characterIndex;
        digits += skipDigits(false);
    }
    // ".e5" is no number: read as 0 it would pass unnoticed; as a name it
    // fails as unknown.
    if (digits == 0) {
        m_characterIndex = start;
        *error = QVMathError::unparsableNumber();
        return std::nullopt;
    }
    if (const char16_t e = peekNextCharacter(); e == u'e' || e == u'E') {
        const size_t mark = m_characterIndex++;
        if (const char16_t sign = peekNextCharacter(); sign == u'+' || sign == u'-')
            ++m_characterIndex;
        if (skipDigits(false) == 0)
            m_characterIndex = mark; // "2e" is 2 and the name e
    }
    return QVMathStringToken::make(text(m_characters, start, m_characterIndex), Type::Number);
}

std::optional<QVMathStringToken> QVMathStringTokenizer::parseHexNumber(Error* error)
{
    const size_t start = m_characterIndex;
    if (skipDigits(true) == 0) {
        *error = QVMathError::unparsableHexNumber();
        return std::nullopt;
    }
    const std::string digits = text(m_characters, start, m_characterIndex).toStdString();
    uint64_t value = 0;
    if (std::from_chars(digits.data(), digits.data() + digits.size(), value, 16).ec == std::errc::result_out_of_range)
        value = std::numeric_limits<uint64_t>::max();
    return QVMathStringToken::make(QString::number(value), Type::Number);
}

std::optional<QVMathStringToken> QVMathStringTokenizer::parseFunction(Error* error)
{
    const size_t start = m_characterIndex;
    const char16_t first = peekNextCharacter();
    if (isSingleCharacterFunction(first)) {
        ++m_characterIndex;
        return QVMathStringToken::make(QString(QChar(first)), Type::Function);
    }
    for (char16_t c = first; c != 0 && !QChar::isSpace(c) && !isOperatorCharacter(c); c = peekNextCharacter())
        ++m_characterIndex;
    if (m_characterIndex == start) {
        *error = QVMathError::unparsableIdentifier();
        return std::nullopt;
    }
    return QVMathStringToken::make(text(m_characters, start, m_characterIndex), Type::Function);
}

std::optional<QVMathStringToken> QVMathStringTokenizer::parseVariable(Error* error)
{
    const size_t start = m_characterIndex++;
    const auto name = parseFunction(error);
    if (!name) {
        m_characterIndex = start;
        *error = QVMathError::emptyVariableName();
        return std::nullopt;
    }
    return QVMathStringToken::make(name->token(), Type::Variable);
}

std::optional<QVMathStringToken> QVMathStringTokenizer::parseStringVariable(Error* error)
{
    const size_t start = m_characterIndex;
    const char16_t quote = nextCharacter();
    QString name;
    for (char16_t c = nextCharacter(); c != quote; c = nextCharacter()) {
        if (c == u'\\')
            c = nextCharacter();
        if (c == 0) {
            m_characterIndex = start;
            *error = QVMathError::unparsableQuotedVariable();
            return std::nullopt;
        }
        name.append(QChar(c));
    }
    return QVMathStringToken::make(name, Type::Variable);
}

std::optional<QVMathStringToken> QVMathStringTokenizer::parseOperator(Error* error)
{
    const size_t start = m_characterIndex;
    // No token is longer than the longest one, so a run of operator
    // characters costs no more than that many look-ups.
    const auto longest = size_t(QVMathOperatorSet::defaultOperatorSet()->longestTokenLength());
    size_t best = 0, n = 0;
    while (n < longest && isOperatorCharacter(at(m_caseInsensitiveCharacters, start + n))) {
        ++n;
        const QString candidate = QString::fromRawData(
            reinterpret_cast<const QChar*>(m_caseInsensitiveCharacters.data() + start), qsizetype(n));
        if (!QVMathOperator::infosForOperatorToken(candidate).isEmpty())
            best = n;
    }
    if (best == 0) {
        *error = QVMathError::invalidOperator(QChar(at(m_caseInsensitiveCharacters, start + n)));
        return std::nullopt;
    }
    m_characterIndex = start + best;
    return QVMathStringToken::make(text(m_caseInsensitiveCharacters, start, start + best), Type::Operator);
}

bool QVMathStringTokenizer::processToken(std::optional<QVMathStringToken> token, Error* error)
{
    if (token && token->isAmbiguous() && token->tokenType() == Type::Operator
        && !processUnknownOperatorToken(&*token, error))
        return false;
    if (token && token->operatorType() == QLatin1String("positive"))
        return true;
    const QVMathStringToken* current = token ? &*token : nullptr;
    processArgumentlessFunction(current);
    processImplicitMultiplication(current);
    appendToken(token);
    return true;
}

bool QVMathStringTokenizer::processUnknownOperatorToken(QVMathStringToken* token, Error* error)
{
    const QVMathStringToken* previous = m_tokens.isEmpty() ? nullptr : &m_tokens.back();
    const bool operandExpected = !previous
                                 || (previous->tokenType() == Type::Operator
                                     && (previous->operatorArity() != Arity::Unary
                                         || previous->operatorAssociativity() == Associativity::Right));
    const char* candidates[] = {operandExpected ? "positive" : "add", operandExpected ? "negate" : "subtract"};
    QString function;
    for (const char* candidate : candidates) {
        const auto op = QVMathOperator::infoForOperatorFunction(QString::fromLatin1(candidate));
        if (op && op->tokens().contains(token->token())) {
            function = op->function();
            break;
        }
    }
    if (function.isEmpty() && token->token() == QLatin1String("!"))
        function = operandExpected ? QStringLiteral("l_not") : QStringLiteral("factorial");
    if (!function.isEmpty())
        token->resolveToOperatorFunction(function);
    if (function.isEmpty() || token->isAmbiguous()) {
        setError(error, QVMathError::unknownPrecedence(token->description()));
        return false;
    }
    return true;
}

void QVMathStringTokenizer::processArgumentlessFunction(const QVMathStringToken* token)
{
    if (m_tokens.isEmpty() || m_tokens.back().tokenType() != Type::Function)
        return;
    if (token && token->tokenType() == Type::Operator && token->operatorType() == QLatin1String("open_paren"))
        return;
    appendToken(operatorToken("("));
    appendToken(operatorToken(")"));
}

void QVMathStringTokenizer::processImplicitMultiplication(const QVMathStringToken* token)
{
    if (!token || m_tokens.isEmpty())
        return;
    const QVMathStringToken& previous = m_tokens.back();
    const bool operandBefore = previous.tokenType() == Type::Number || previous.tokenType() == Type::Variable
                               || previous.isOperator(Arity::Unary, Associativity::Left);
    const bool operandAfter = token->tokenType() != Type::Operator || token->isOperator(Arity::Unary, Associativity::Right);
    if (operandBefore && operandAfter)
        appendToken(operatorToken("*"));
}

char16_t QVMathStringTokenizer::nextCharacter()
{
    const char16_t c = peekNextCharacter();
    if (c != 0)
        ++m_characterIndex;
    return c;
}

char16_t QVMathStringTokenizer::at(const std::vector<char16_t>& buffer, size_t index) const
{
    return index < m_length ? buffer[index] : 0;
}

size_t QVMathStringTokenizer::skipDigits(bool hex)
{
    const size_t start = m_characterIndex;
    for (char16_t c = peekNextCharacter(); hex ? isHexDigit(c) : isDigit(c); c = peekNextCharacter())
        ++m_characterIndex;
    return m_characterIndex - start;
}

QString QVMathStringTokenizer::text(const std::vector<char16_t>& buffer, size_t start, size_t end) const
{
    return QString(reinterpret_cast<const QChar*>(buffer.data() + start), qsizetype(end - start));
}
