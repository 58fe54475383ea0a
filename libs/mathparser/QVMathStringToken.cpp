#include "QVMathStringToken.h"

#include "ConsoleLog.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace {

// The decimal where it holds the value as well as a double would; past its
// range ("1e200", "1e-200") the double, which the decimal would turn into
// NaN or 0.
Number numberFromText(const QString& text)
{
    const std::string digits = text.toStdString();
    CalculationError error = CalculationError::NoError;
    const auto decimal = Decimal::parse(digits, &error);
    if (!decimal) {
        consoleLog(QStringLiteral("supposedly invalid number: %1").arg(text));
        return Number(Decimal());
    }
    if (error == CalculationError::NoError)
        return Number(*decimal);
    double binary = 0;
    const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), binary);
    if (result.ec == std::errc::result_out_of_range)
        binary = decimal->isNaN() ? std::numeric_limits<double>::infinity() : 0.0;
    return decimal->toDouble() == binary ? Number(*decimal) : Number(binary);
}

const char* arityAbbreviation(QVMathOperatorArity arity)
{
    switch (arity) {
    case QVMathOperatorArity::Unary:
        return "UN";
    case QVMathOperatorArity::Binary:
        return "BIN";
    case QVMathOperatorArity::Unknown:
        break;
    }
    return "UNK";
}

} // namespace

std::optional<QVMathStringToken> QVMathStringToken::make(const QString& token, QVMathStringTokenType type)
{
    QVMathStringToken result(token, type);
    if (type == QVMathStringTokenType::Number) {
        result.m_numberValue = numberFromText(token);
    } else if (type == QVMathStringTokenType::Operator) {
        const auto operators = QVMathOperator::infosForOperatorToken(token);
        if (operators.isEmpty())
            return std::nullopt;
        if (operators.size() == 1)
            result.m_operatorInfo = operators.front();
        else
            result.m_ambiguous = true;
    }
    return result;
}

void QVMathStringToken::resolveToOperatorFunction(const QString& function)
{
    m_operatorInfo = QVMathOperator::infoForOperatorFunction(function);
    m_ambiguous = !m_operatorInfo;
}

QString QVMathStringToken::operatorType() const
{
    if (m_ambiguous)
        return QStringLiteral("invalid");
    return m_operatorInfo ? m_operatorInfo->function() : QString();
}

QString QVMathStringToken::operatorFunction() const
{
    if (m_ambiguous)
        return QLatin1String("");
    return m_operatorInfo ? m_operatorInfo->function() : QString();
}

QVMathOperatorArity QVMathStringToken::operatorArity() const
{
    return m_operatorInfo && !m_ambiguous ? m_operatorInfo->arity() : QVMathOperatorArity::Unknown;
}

int64_t QVMathStringToken::operatorPrecedence() const
{
    if (m_ambiguous)
        return -1;
    return m_operatorInfo ? m_operatorInfo->precedence() : 0;
}

QVMathOperatorAssociativity QVMathStringToken::operatorAssociativity() const
{
    return m_operatorInfo && !m_ambiguous ? m_operatorInfo->associativity() : QVMathOperatorAssociativity::Left;
}

bool QVMathStringToken::isOperator(QVMathOperatorArity arity, QVMathOperatorAssociativity associativity) const
{
    return m_tokenType == QVMathStringTokenType::Operator && operatorArity() == arity
           && operatorAssociativity() == associativity;
}

QString QVMathStringToken::description() const
{
    return m_tokenType == QVMathStringTokenType::Variable ? QLatin1Char('$') + m_token : m_token;
}

QString QVMathStringToken::debugDescription() const
{
    if (m_tokenType != QVMathStringTokenType::Operator)
        return description();
    const bool right = operatorAssociativity() == QVMathOperatorAssociativity::Right;
    return description()
           + QStringLiteral(" (arity:%1, precedence:%2, associativity:%3, function:%4)")
                 .arg(QLatin1String(arityAbbreviation(operatorArity())), QString::number(operatorPrecedence()),
                      right ? QStringLiteral("RIGHT") : QStringLiteral("LEFT"), operatorFunction());
}
