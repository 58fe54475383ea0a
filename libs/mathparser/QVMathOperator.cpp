#include "QVMathOperator.h"

#include "QVMathOperatorSet.h"

#include <stdexcept>

namespace {

struct DefaultRow {
    const char* function;
    std::initializer_list<const char16_t*> tokens;
    QVMathOperatorArity arity;
    int64_t precedence;
    QVMathOperatorAssociativity associativity;
};

QString arityName(QVMathOperatorArity arity)
{
    switch (arity) {
    case QVMathOperatorArity::Unary:
        return QStringLiteral("Unary");
    case QVMathOperatorArity::Binary:
        return QStringLiteral("Binary");
    case QVMathOperatorArity::Unknown:
        break;
    }
    return QStringLiteral("Unknown");
}

QStringList lowercased(const QStringList& tokens)
{
    QStringList result;
    result.reserve(tokens.size());
    for (const QString& token : tokens)
        result.append(token.toLower());
    return result;
}

} // namespace

QVMathOperator::QVMathOperator(const QString& function, const QStringList& tokens, QVMathOperatorArity arity,
                               int64_t precedence, QVMathOperatorAssociativity associativity)
    : m_function(function), m_tokens(tokens), m_arity(arity), m_associativity(associativity),
      m_precedence(precedence)
{
}

std::shared_ptr<QVMathOperator> QVMathOperator::make(const QString& function, const QStringList& tokens,
                                                     QVMathOperatorArity arity,
                                                     QVMathOperatorAssociativity associativity)
{
    if (arity == QVMathOperatorArity::Unknown)
        throw std::invalid_argument("Unable to create operator with unknown arity");
    const QStringList lower = lowercased(tokens);
    for (const QString& token : lower) {
        if (!isValidToken(token))
            throw std::invalid_argument(QStringLiteral("Invalid operator token: %1").arg(token).toStdString());
    }
    return std::make_shared<QVMathOperator>(function, lower, arity, 0, associativity);
}

std::shared_ptr<QVMathOperator> QVMathOperator::infoForOperatorFunction(const QString& function)
{
    return QVMathOperatorSet::defaultOperatorSet()->operatorForFunction(function);
}

QList<std::shared_ptr<QVMathOperator>> QVMathOperator::infosForOperatorToken(const QString& token)
{
    return QVMathOperatorSet::defaultOperatorSet()->operatorsForToken(token);
}

const QList<std::shared_ptr<const QVMathOperator>>& QVMathOperator::defaultOperators()
{
    using A = QVMathOperatorArity;
    constexpr auto L = QVMathOperatorAssociativity::Left;
    constexpr auto R = QVMathOperatorAssociativity::Right;
    // No platform evaluator to ask how "2 ** 3 ** 2" groups: powers group
    // from the right, as in mathematics.
    static const DefaultRow rows[] = {
        {"l_or", {u"||", u"\u2228"}, A::Binary, 0, L},
        {"l_and", {u"&&", u"\u2227"}, A::Binary, 1, L},
        {"l_eq", {u"==", u"="}, A::Binary, 2, L},
        {"l_neq", {u"!="}, A::Binary, 2, L},
        {"l_lt", {u"<"}, A::Binary, 3, L},
        {"l_gt", {u">"}, A::Binary, 4, L},
        {"l_ltoe", {u"<=", u"=<", u"\u2264", u"\u226F"}, A::Binary, 5, L},
        {"l_gtoe", {u">=", u"=>", u"\u2265", u"\u226E"}, A::Binary, 6, L},
        {"l_not", {u"!", u"\u00AC"}, A::Unary, 7, R},
        {"or", {u"|"}, A::Binary, 8, L},
        {"xor", {u"^"}, A::Binary, 9, L},
        {"and", {u"&"}, A::Binary, 10, L},
        {"lshift", {u"<<"}, A::Binary, 11, L},
        {"rshift", {u">>"}, A::Binary, 12, L},
        {"add", {u"+"}, A::Binary, 13, L},
        {"subtract", {u"-", u"\u2212"}, A::Binary, 13, L},
        {"multiply", {u"*", u"\u00D7"}, A::Binary, 14, L},
        {"divide", {u"/", u"\u00F7"}, A::Binary, 14, L},
        {"not", {u"~"}, A::Unary, 15, R},
        {"negate", {u"-", u"\u2212"}, A::Unary, 16, R},
        {"positive", {u"+"}, A::Unary, 16, R},
        {"factorial", {u"!"}, A::Unary, 17, L},
        {"dtor", {u"\u00BA", u"\u00B0"}, A::Unary, 17, L},
        {"pow", {u"**"}, A::Binary, 18, R},
        {"open_paren", {u"("}, A::Unary, 19, R},
        {"close_paren", {u")"}, A::Unary, 19, L},
        {"comma", {u","}, A::Unknown, 20, L},
    };
    static const QList<std::shared_ptr<const QVMathOperator>> table = [] {
        QList<std::shared_ptr<const QVMathOperator>> result;
        for (const DefaultRow& row : rows) {
            QStringList tokens;
            for (const char16_t* token : row.tokens)
                tokens.append(QString::fromUtf16(token));
            result.append(std::make_shared<const QVMathOperator>(QString::fromLatin1(row.function), tokens,
                                                                 row.arity, row.precedence, row.associativity));
        }
        return result;
    }();
    return table;
}

bool QVMathOperator::isValidToken(const QString& token)
{
    if (token.isEmpty())
        return false;
    const QChar first = token.front();
    if ((first >= u'0' && first <= u'9') || first == u'"' || first == u'$' || first == u'\'' || first == u'.')
        return false;
    return token.trimmed() == token;
}

std::shared_ptr<QVMathOperator> QVMathOperator::copy() const
{
    return std::make_shared<QVMathOperator>(m_function, m_tokens, m_arity, m_precedence, m_associativity);
}

void QVMathOperator::addTokens(const QStringList& tokens) { m_tokens.append(lowercased(tokens)); }

QString QVMathOperator::description() const
{
    const QString self = QStringLiteral("<QVMathOperator: 0x%1>").arg(reinterpret_cast<quintptr>(this), 0, 16);
    const QString associativity = m_associativity == QVMathOperatorAssociativity::Right ? QStringLiteral("Right")
                                                                                         : QStringLiteral("Left");
    return QStringLiteral("%1 {(%2) => %3(), Arity: %4, Assoc: %5, Precedence: %6}")
        .arg(self, m_tokens.join(QStringLiteral(", ")), m_function, arityName(m_arity), associativity,
             QString::number(m_precedence));
}
