#include "QVExpression.h"

#include "ConsoleLog.h"
#include "QVMathError.h"
#include "QVMathEvaluator.h"
#include "QVMathStringTokenizer.h"
#include "QVParser.h"

#include <QCborArray>
#include <QStringList>
#include <QtEndian>

#include <stdexcept>
#include <utility>

QVExpressionPtr QVExpression::expressionFromString(const QString& text, Error* error)
{
    const auto parser = QVParser::parserWithString(text, error);
    return parser ? parser->parsedExpressionWithError(error) : nullptr;
}

QVExpressionPtr QVExpression::numberExpressionWithNumber(const Number& number)
{
    auto node = std::shared_ptr<QVExpression>(new QVExpression(QVExpressionType::Number));
    node->m_number = number;
    return node;
}

QVExpressionPtr QVExpression::functionExpressionWithFunction(const QString& function,
                                                             const QList<QVExpressionPtr>& arguments, Error* error)
{
    for (const QVExpressionPtr& argument : arguments) {
        if (!argument) {
            setError(error, QVMathError::nonExpressionArguments());
            return nullptr;
        }
    }
    auto node = std::shared_ptr<QVExpression>(new QVExpression(QVExpressionType::Function));
    node->m_name = function.toLower();
    node->m_arguments = arguments;
    for (const QVExpressionPtr& argument : arguments)
        argument->m_parent = node;
    return node;
}

QVExpressionPtr QVExpression::variableExpressionWithVariable(const QString& variable)
{
    const QString name = variable.startsWith(QLatin1Char('$')) ? variable.mid(1) : variable;
    if (name.isEmpty())
        return nullptr;
    auto node = std::shared_ptr<QVExpression>(new QVExpression(QVExpressionType::Variable));
    node->m_name = name;
    return node;
}

const Number& QVExpression::number() const
{
    if (m_type != QVExpressionType::Number)
        throw std::logic_error("This is not a numeric expression");
    return m_number;
}

const QString& QVExpression::function() const
{
    if (m_type != QVExpressionType::Function)
        throw std::logic_error("This is not a function expression");
    return m_name;
}

const QList<QVExpressionPtr>& QVExpression::arguments() const
{
    if (m_type != QVExpressionType::Function)
        throw std::logic_error("This is not a function expression");
    return m_arguments;
}

const QString& QVExpression::variable() const
{
    if (m_type != QVExpressionType::Variable)
        throw std::logic_error("This is not a variable expression");
    return m_name;
}

std::optional<Number> QVExpression::evaluateWithSubstitutions(const QVSubstitutions& substitutions,
                                                              QVMathEvaluator* evaluator, Error* error) const
{
    if (!evaluator)
        return std::nullopt;
    return evaluator->evaluateExpression(*this, substitutions, error);
}

QVExpressionPtr QVExpression::simplifiedExpressionWithEvaluator(QVMathEvaluator* evaluator, Error* error) const
{
    if (m_type != QVExpressionType::Function)
        return shared_from_this();
    QList<QVExpressionPtr> simplified;
    bool allNumbers = true;
    for (const QVExpressionPtr& argument : m_arguments) {
        QVExpressionPtr next = argument->simplifiedExpressionWithEvaluator(evaluator, error);
        if (!next)
            return nullptr;
        allNumbers = allNumbers && next->expressionType() == QVExpressionType::Number;
        simplified.append(next);
    }
    if (allNumbers) {
        QVMathEvaluator& folder = evaluator ? *evaluator : QVMathEvaluator::defaultMathEvaluator();
        if (const auto value = folder.evaluateExpression(*this, {}, error))
            return numberExpressionWithNumber(*value);
    }
    return functionExpressionWithFunction(function(), simplified);
}

QVExpressionPtr QVExpression::simplifiedExpression() const
{
    Error error;
    QVExpressionPtr result = simplifiedExpressionWithEvaluator(nullptr, &error);
    if (!error.isNull()) {
        consoleLog(QStringLiteral("error: %1").arg(error.description()));
        return nullptr;
    }
    return result;
}

QVExpressionPtr QVExpression::copy() const
{
    switch (m_type) {
    case QVExpressionType::Number:
        return numberExpressionWithNumber(m_number);
    case QVExpressionType::Variable:
        return variableExpressionWithVariable(m_name);
    case QVExpressionType::Function:
        break;
    }
    QList<QVExpressionPtr> copies;
    for (const QVExpressionPtr& argument : m_arguments)
        copies.append(argument->copy());
    return functionExpressionWithFunction(function(), copies);
}

// Integers and doubles are CBOR's own; an unsigned value above the signed
// range is a bignum, a decimal its text under the decimal-fraction tag.
static QCborValue archivedNumber(const Number& number)
{
    switch (number.kind()) {
    case Number::Kind::Int64:
        return QCborValue(qint64(number.toInt64()));
    case Number::Kind::Double:
        return QCborValue(number.toDouble());
    case Number::Kind::UInt64: {
        QByteArray bytes(8, Qt::Uninitialized);
        qToBigEndian(number.toUInt64(), bytes.data());
        return QCborValue(QCborKnownTags::PositiveBignum, bytes);
    }
    case Number::Kind::Decimal:
        break;
    }
    return QCborValue(QCborKnownTags::Decimal, QString::fromStdString(number.description()));
}

static std::optional<Number> unarchivedNumber(const QCborValue& value)
{
    if (value.isInteger())
        return Number(int64_t(value.toInteger()));
    if (value.isDouble())
        return Number(value.toDouble());
    if (value.tag() == QCborTag(QCborKnownTags::PositiveBignum) && value.taggedValue().toByteArray().size() == 8)
        return Number(uint64_t(qFromBigEndian<quint64>(value.taggedValue().toByteArray().constData())));
    if (value.tag() == QCborTag(QCborKnownTags::Decimal) && value.taggedValue().isString())
        return Number(Decimal::parse(value.taggedValue().toString().toStdString()).value_or(Decimal::notANumber()));
    return std::nullopt;
}

QCborMap QVExpression::archive() const
{
    QCborMap map;
    switch (m_type) {
    case QVExpressionType::Number:
        map.insert(QStringLiteral("number"), archivedNumber(m_number));
        break;
    case QVExpressionType::Variable:
        map.insert(QStringLiteral("variable"), m_name);
        break;
    case QVExpressionType::Function: {
        QCborArray arguments;
        for (const QVExpressionPtr& argument : m_arguments)
            arguments.append(argument->archive());
        map.insert(QStringLiteral("function"), function());
        map.insert(QStringLiteral("arguments"), arguments);
        break;
    }
    }
    return map;
}

// A number or variable node, or null for anything else.
QVExpressionPtr QVExpression::leafFromArchive(const QCborMap& map)
{
    if (map.contains(QStringLiteral("number"))) {
        const auto number = unarchivedNumber(map.value(QStringLiteral("number")));
        return number ? numberExpressionWithNumber(*number) : nullptr;
    }
    if (map.value(QStringLiteral("variable")).isString())
        return variableExpressionWithVariable(map.value(QStringLiteral("variable")).toString());
    return nullptr;
}

// Walked with a stack of its own: an archive may nest as deep as a parse can,
// which is deeper than the call stack of a sanitizer build allows.
QVExpressionPtr QVExpression::fromArchive(const QCborMap& root)
{
    struct Call {
        QString function;
        QCborArray arguments;
        QList<QVExpressionPtr> decoded;
    };
    QList<Call> calls;
    QCborMap map = root;
    for (;;) {
        QVExpressionPtr decoded;
        if (map.value(QStringLiteral("function")).isString() && !map.contains(QStringLiteral("number"))
            && !map.value(QStringLiteral("variable")).isString()) {
            if (calls.size() >= QVMathStringTokenizer::maximumTokenCount)
                return nullptr;
            calls.append({map.value(QStringLiteral("function")).toString(),
                          map.value(QStringLiteral("arguments")).toArray(), {}});
        } else if (!(decoded = leafFromArchive(map))) {
            return nullptr;
        }
        // Hands the finished node to its call, finishing calls whose arguments are all in.
        while (!calls.isEmpty()) {
            Call& call = calls.last();
            if (decoded)
                call.decoded.append(std::exchange(decoded, nullptr));
            if (call.decoded.size() < call.arguments.size())
                break;
            decoded = functionExpressionWithFunction(call.function, call.decoded);
            calls.removeLast();
            if (!decoded)
                return nullptr;
        }
        if (calls.isEmpty())
            return decoded;
        map = calls.last().arguments.at(calls.last().decoded.size()).toMap();
    }
}

bool QVExpression::operator==(const QVExpression& other) const
{
    if (m_type != other.m_type)
        return false;
    switch (m_type) {
    case QVExpressionType::Number:
        return m_number == other.m_number;
    case QVExpressionType::Variable:
        return m_name == other.m_name;
    case QVExpressionType::Function:
        break;
    }
    if (function() != other.function() || m_arguments.size() != other.m_arguments.size())
        return false;
    for (qsizetype i = 0; i < m_arguments.size(); ++i) {
        if (!(*m_arguments.at(i) == *other.m_arguments.at(i)))
            return false;
    }
    return true;
}

size_t QVExpression::hash() const
{
    switch (m_type) {
    case QVExpressionType::Number:
        return m_number.hash();
    case QVExpressionType::Variable:
        return qHash(m_name);
    case QVExpressionType::Function:
        break;
    }
    return qHash(function());
}

QString QVExpression::description() const
{
    switch (m_type) {
    case QVExpressionType::Number:
        return QString::fromStdString(m_number.description());
    case QVExpressionType::Variable:
        return QLatin1Char('$') + m_name;
    case QVExpressionType::Function:
        break;
    }
    QStringList arguments;
    for (const QVExpressionPtr& argument : m_arguments)
        arguments.append(argument->description());
    return QStringLiteral("%1(%2)").arg(function(), arguments.join(QLatin1Char(',')));
}
