#include "QVMathOperatorSet.h"

#include <algorithm>
#include <stdexcept>

// Most tokens are ASCII without capitals: those need no Unicode case mapping.
static QString lowercased(const QString& token)
{
    for (const QChar unit : token) {
        if (unit.unicode() >= 0x80 || (unit >= u'A' && unit <= u'Z'))
            return token.toLower();
    }
    return token;
}

size_t QVMathOperatorSet::KeyHash::operator()(const QString& key) const
{
    size_t hash = 14695981039346656037ull; // FNV-1a
    for (const QChar unit : key)
        hash = (hash ^ unit.unicode()) * 1099511628211ull;
    return hash;
}

const std::shared_ptr<QVMathOperatorSet>& QVMathOperatorSet::defaultOperatorSet()
{
    static const std::shared_ptr<QVMathOperatorSet> set = std::make_shared<QVMathOperatorSet>();
    return set;
}

QVMathOperatorSet::QVMathOperatorSet() : QVMathOperatorSet(std::vector<std::shared_ptr<QVMathOperator>>()) {}

QVMathOperatorSet::QVMathOperatorSet(const std::vector<std::shared_ptr<QVMathOperator>>&)
{
    for (const auto& model : QVMathOperator::defaultOperators()) {
        const auto op = model->copy();
        m_operators.push_back(op);
        m_operatorsByFunction.emplace(op->function(), op);
        for (const QString& token : op->tokens())
            index(token, op);
    }
    addPercentOperator();
}

std::shared_ptr<QVMathOperatorSet> QVMathOperatorSet::copy() const
{
    auto set = std::make_shared<QVMathOperatorSet>(m_operators);
    set->setInterpretsPercentSignAsModulo(m_interpretsPercentSignAsModulo);
    return set;
}

void QVMathOperatorSet::setInterpretsPercentSignAsModulo(bool modulo)
{
    if (modulo == m_interpretsPercentSignAsModulo)
        return;
    m_interpretsPercentSignAsModulo = modulo;
    // Precedences are not moved back: only the operators' order is kept.
    const auto old = m_percentTokenOperator;
    std::erase(m_operators, old);
    m_operatorsByFunction.erase(old->function());
    for (const QString& token : old->tokens()) {
        const QString key = lowercased(token);
        auto entry = m_operatorsByToken.find(key);
        if (entry == m_operatorsByToken.end())
            continue;
        entry->second.removeAll(old);
        if (entry->second.isEmpty())
            m_operatorsByToken.erase(entry);
    }
    addPercentOperator();
}

void QVMathOperatorSet::addPercentOperator()
{
    const QStringList tokens{QStringLiteral("%")};
    if (m_interpretsPercentSignAsModulo) {
        m_percentTokenOperator = std::make_shared<QVMathOperator>(QStringLiteral("mod"), tokens, QVMathOperatorArity::Binary, 0,
                                                                  QVMathOperatorAssociativity::Left);
        addOperatorWithPrecedenceHigherThan(m_percentTokenOperator, operatorForFunction(QStringLiteral("multiply")));
    } else {
        m_percentTokenOperator = std::make_shared<QVMathOperator>(QStringLiteral("percent"), tokens, QVMathOperatorArity::Unary, 0,
                                                                  QVMathOperatorAssociativity::Left);
        addOperatorWithPrecedenceHigherThan(m_percentTokenOperator, operatorForFunction(QStringLiteral("negate")));
    }
}

void QVMathOperatorSet::addTokens(const QStringList& tokens, const QString& function)
{
    const auto existing = operatorForFunction(function);
    if (!existing)
        throw std::invalid_argument(
            QStringLiteral("No operator is defined for function '%1'").arg(function).toStdString());
    place(std::make_shared<QVMathOperator>(function, tokens, QVMathOperatorArity::Unknown, 0,
                                           QVMathOperatorAssociativity::Left),
          existing, Relativity::Same);
}

void QVMathOperatorSet::addOperatorWithPrecedenceHigherThan(const std::shared_ptr<QVMathOperator>& op,
                                                            const std::shared_ptr<QVMathOperator>& existing)
{
    place(op, existing, Relativity::Higher);
}

void QVMathOperatorSet::addOperatorWithPrecedenceSameAs(const std::shared_ptr<QVMathOperator>& op,
                                                        const std::shared_ptr<QVMathOperator>& existing)
{
    place(op, existing, Relativity::Same);
}

void QVMathOperatorSet::addOperatorWithPrecedenceLowerThan(const std::shared_ptr<QVMathOperator>& op,
                                                           const std::shared_ptr<QVMathOperator>& existing)
{
    place(op, existing, Relativity::Lower);
}

void QVMathOperatorSet::place(const std::shared_ptr<QVMathOperator>& op,
                              const std::shared_ptr<QVMathOperator>& existing, Relativity relativity)
{
    const int64_t p = existing->precedence() - static_cast<int64_t>(relativity);
    op->setPrecedence(p);
    if (const auto present = operatorForFunction(op->function())) {
        present->addTokens(op->tokens());
        for (const QString& token : op->tokens())
            index(lowercased(token), present);
        return;
    }
    for (const QString& token : op->tokens()) {
        if (m_operatorsByToken.contains(lowercased(token)))
            throw std::invalid_argument(
                QStringLiteral("An operator is already defined for '%1'").arg(token).toStdString());
    }
    m_operators.push_back(op);
    if (relativity == Relativity::Higher) {
        // The level just above the existing operator is left empty.
        for (const auto& member : m_operators) {
            if (member->precedence() >= p)
                member->setPrecedence(member->precedence() + 1);
        }
    } else if (relativity == Relativity::Lower) {
        for (const auto& member : m_operators) {
            if (member->precedence() > p)
                member->setPrecedence(member->precedence() + 1);
        }
        op->setPrecedence(p + 1);
    }
    std::stable_sort(m_operators.begin(), m_operators.end(),
                     [](const auto& a, const auto& b) { return a->precedence() < b->precedence(); });
    m_operatorsByFunction.insert_or_assign(op->function(), op);
    for (const QString& token : op->tokens())
        index(lowercased(token), op);
}

void QVMathOperatorSet::index(const QString& token, const std::shared_ptr<QVMathOperator>& op)
{
    auto& entry = m_operatorsByToken[token];
    if (!entry.contains(op))
        entry.append(op);
    m_longestTokenLength = std::max(m_longestTokenLength, token.size());
}

std::shared_ptr<QVMathOperator> QVMathOperatorSet::operatorForFunction(const QString& function) const
{
    const auto found = m_operatorsByFunction.find(function);
    return found == m_operatorsByFunction.end() ? nullptr : found->second;
}

QList<std::shared_ptr<QVMathOperator>> QVMathOperatorSet::operatorsForToken(const QString& token) const
{
    const auto found = m_operatorsByToken.find(lowercased(token));
    return found == m_operatorsByToken.end() ? QList<std::shared_ptr<QVMathOperator>>() : found->second;
}
