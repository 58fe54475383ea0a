#pragma once

#include "QVMathOperator.h"

#include <unordered_map>
#include <vector>

// An ordered, indexed set of operators, kept in ascending precedence. Each
// set starts from its own copies of the default table plus "%", which is
// "mod" (binary, above "multiply") or "percent" (unary, above "negate").
// No lock: changes must not overlap other use of the same set.
class QVMathOperatorSet {
public:
    // The one set shared by every tokenizer, parser and evaluator not given
    // one of their own; made on first use.
    static const std::shared_ptr<QVMathOperatorSet>& defaultOperatorSet();

    QVMathOperatorSet();
    // Also built from the default table: the list given is not read, so every
    // set starts alike however it is made.
    explicit QVMathOperatorSet(const std::vector<std::shared_ptr<QVMathOperator>>& operators);
    QVMathOperatorSet(const QVMathOperatorSet&) = delete;
    QVMathOperatorSet& operator=(const QVMathOperatorSet&) = delete;
    // A fresh set in this one's "%" mode: added operators and tokens are not in it.
    std::shared_ptr<QVMathOperatorSet> copy() const;

    const std::vector<std::shared_ptr<QVMathOperator>>& operators() const { return m_operators; }
    auto begin() const { return m_operators.begin(); }
    auto end() const { return m_operators.end(); }

    bool interpretsPercentSignAsModulo() const { return m_interpretsPercentSignAsModulo; }
    void setInterpretsPercentSignAsModulo(bool modulo);

    // Throws std::invalid_argument when no operator has the function. The
    // tokens are not checked and may make a token ambiguous.
    void addTokens(const QStringList& tokens, const QString& function);

    // Place a new operator relative to a member, writing its precedence. An
    // operator for a function already present only gives it its tokens; a
    // token already mapped throws std::invalid_argument and changes nothing.
    void addOperatorWithPrecedenceHigherThan(const std::shared_ptr<QVMathOperator>& op,
                                             const std::shared_ptr<QVMathOperator>& existing);
    void addOperatorWithPrecedenceSameAs(const std::shared_ptr<QVMathOperator>& op,
                                         const std::shared_ptr<QVMathOperator>& existing);
    void addOperatorWithPrecedenceLowerThan(const std::shared_ptr<QVMathOperator>& op,
                                            const std::shared_ptr<QVMathOperator>& existing);

    // Exact function name; null when absent.
    std::shared_ptr<QVMathOperator> operatorForFunction(const QString& function) const;
    // Lowercased token; the operators in the order they were added, empty when unknown.
    QList<std::shared_ptr<QVMathOperator>> operatorsForToken(const QString& token) const;
    // No token of the set is longer (in UTF-16 units).
    qsizetype longestTokenLength() const { return m_longestTokenLength; }

    // Qt's string hash is built to resist flooding and costs more than the
    // short, trusted keys of the library's tables need; the tokenizer looks
    // one up per operator, the function evaluator one per call.
    struct KeyHash {
        size_t operator()(const QString& key) const;
    };

private:
    template <typename T> using Index = std::unordered_map<QString, T, KeyHash>;

    enum class Relativity { Higher = -1, Same = 0, Lower = 1 };
    void place(const std::shared_ptr<QVMathOperator>& op, const std::shared_ptr<QVMathOperator>& existing,
               Relativity relativity);
    void index(const QString& token, const std::shared_ptr<QVMathOperator>& op);
    void addPercentOperator();

    std::vector<std::shared_ptr<QVMathOperator>> m_operators;
    Index<std::shared_ptr<QVMathOperator>> m_operatorsByFunction;
    Index<QList<std::shared_ptr<QVMathOperator>>> m_operatorsByToken;
    std::shared_ptr<QVMathOperator> m_percentTokenOperator;
    bool m_interpretsPercentSignAsModulo = true;
    qsizetype m_longestTokenLength = 0;
};
