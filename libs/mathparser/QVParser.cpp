#include "QVParser.h"

#include "QVMathError.h"

#include <QStringList>

#include <vector>

namespace {

enum class TermType { Number = 1, Variable = 2, Operator = 3, Function = 4, Group = 5 };

// A group owns its subterms; a function term's subterms are its arguments.
struct Term {
    TermType type;
    std::optional<QVMathStringToken> token;
    std::vector<std::unique_ptr<Term>> subterms;
    QString functionName;
    bool resolved = false;

    bool isOperator() const { return type == TermType::Operator; }
    QString operatorType() const { return token->operatorType(); }
    QString description() const;
};
using TermPtr = std::unique_ptr<Term>;

TermPtr makeTerm(TermType type, std::optional<QVMathStringToken> token = std::nullopt)
{
    return TermPtr(new Term{type, std::move(token), {}, {}, false});
}

QString Term::description() const
{
    QStringList parts;
    for (const TermPtr& subterm : subterms)
        parts.append(subterm->description());
    switch (type) {
    case TermType::Number:
    case TermType::Operator:
        return token->token();
    case TermType::Variable:
        return QLatin1Char('$') + token->token();
    case TermType::Group:
        return QLatin1Char('(') + parts.join(QString()) + QLatin1Char(')');
    case TermType::Function:
        break;
    }
    return QStringLiteral("%1(%2)").arg(functionName, parts.join(QLatin1Char(',')));
}

bool isCloseParen(const std::optional<QVMathStringToken>& token)
{
    return token && token->operatorType() == QLatin1String("close_paren");
}

// One parse: the token source, the parser for associativities, and the first
// failure (kept here so that a function call can tell a nesting failure from
// the ones it rewords).
struct Parse {
    QVMathStringTokenizer& tokenizer;
    const QVParser& parser;
    Error error;

    bool fail(const Error& failure)
    {
        error = failure;
        return false;
    }
    bool tooDeep(int depth)
    {
        if (depth <= QVExpression::maximumDepth)
            return false;
        error = QVMathError::nestingTooDeep();
        return true;
    }

    TermPtr nextTerm(int depth);
    bool fillGroup(Term& group, int depth);
    TermPtr functionTerm(int depth);

    bool resolve(Term& term, int depth);
    bool reduce(Term& group);
    bool reduceBinary(Term& group, size_t i);
    bool reduceUnary(Term& group, size_t i);

    QVExpressionPtr expression(const Term& term);
};

TermPtr Parse::nextTerm(int depth)
{
    const std::optional<QVMathStringToken> token = tokenizer.peekNextObject();
    if (!token) {
        fail(QVMathError::nilToken());
        return nullptr;
    }
    switch (token->tokenType()) {
    case QVMathStringTokenType::Number:
        return makeTerm(TermType::Number, tokenizer.nextObject());
    case QVMathStringTokenType::Variable:
        return makeTerm(TermType::Variable, tokenizer.nextObject());
    case QVMathStringTokenType::Function:
        return functionTerm(depth);
    case QVMathStringTokenType::Operator:
        break;
    }
    if (token->operatorType() != QLatin1String("open_paren"))
        return makeTerm(TermType::Operator, tokenizer.nextObject());
    TermPtr group = makeTerm(TermType::Group);
    return fillGroup(*group, depth + 1) ? std::move(group) : nullptr;
}

// The opening token, the terms up to the closing parenthesis, then that one.
bool Parse::fillGroup(Term& group, int depth)
{
    if (tooDeep(depth))
        return false;
    group.token = tokenizer.nextObject();
    while (tokenizer.peekNextObject() && !isCloseParen(tokenizer.peekNextObject())) {
        TermPtr term = nextTerm(depth);
        if (!term)
            return false;
        group.subterms.push_back(std::move(term));
    }
    if (!tokenizer.nextObject())
        return fail(QVMathError::imbalancedParentheses());
    return true;
}

// Arguments are the runs between commas: one term stands for itself, an empty
// run or several terms become a group; an empty last run is no argument.
TermPtr Parse::functionTerm(int depth)
{
    const QVMathStringToken token = *tokenizer.nextObject();
    TermPtr function = makeTerm(TermType::Function);
    function->functionName = token.token();
    Term body{TermType::Group, std::nullopt, {}, {}, false};
    if (!fillGroup(body, depth + 1)) {
        if (error.localizedDescription() != QVMathError::nestingTooDeep().localizedDescription())
            fail(QVMathError::missingParentheses(token.description()));
        return nullptr;
    }
    function->token = body.token;
    std::vector<TermPtr> run;
    const auto closeRun = [&] {
        if (run.size() == 1) {
            function->subterms.push_back(std::move(run.front()));
        } else {
            TermPtr group = makeTerm(TermType::Group);
            group->subterms = std::move(run);
            function->subterms.push_back(std::move(group));
        }
        run.clear();
    };
    for (TermPtr& term : body.subterms) {
        if (term->isOperator() && term->operatorType() == QLatin1String("comma"))
            closeRun();
        else
            run.push_back(std::move(term));
    }
    if (!run.empty())
        closeRun();
    return function;
}

bool Parse::resolve(Term& term, int depth)
{
    if (term.resolved || term.type == TermType::Number || term.type == TermType::Variable)
        return term.resolved = true;
    if (tooDeep(depth))
        return false;
    if (term.isOperator()) {
        const QString text = term.description();
        if (term.token->operatorArity() != QVMathOperatorArity::Unary)
            return fail(QVMathError::missingOperands(text));
        if (term.token->operatorAssociativity() == QVMathOperatorAssociativity::Right)
            return fail(QVMathError::noRightOperandToUnary(text));
        return fail(QVMathError::noLeftOperandToUnary(text));
    }
    if (term.type == TermType::Group) {
        while (term.subterms.size() >= 2) {
            if (!reduce(term))
                return false;
        }
    }
    for (TermPtr& subterm : term.subterms) {
        if (!resolve(*subterm, depth + 1))
            return false;
    }
    return term.resolved = true;
}

// One step: the operator of highest precedence (among equals the first,
// or the last when the first is right-associative) takes its operands.
bool Parse::reduce(Term& group)
{
    std::vector<size_t> indices;
    int64_t best = -1;
    for (size_t i = 0; i < group.subterms.size(); ++i) {
        if (!group.subterms[i]->isOperator())
            continue;
        const int64_t precedence = group.subterms[i]->token->operatorPrecedence();
        if (precedence > best) {
            best = precedence;
            indices.clear();
        }
        if (precedence == best)
            indices.push_back(i);
    }
    if (indices.empty())
        return fail(QVMathError::invalidFormat(group.description()));
    const Term& first = *group.subterms[indices.front()];
    const bool right = parser.associativityForOperatorFunction(first.operatorType()) == QVMathOperatorAssociativity::Right;
    const size_t index = right ? indices.back() : indices.front();
    switch (group.subterms[index]->token->operatorArity()) {
    case QVMathOperatorArity::Binary:
        return reduceBinary(group, index);
    case QVMathOperatorArity::Unary:
        return reduceUnary(group, index);
    case QVMathOperatorArity::Unknown:
        break;
    }
    return fail(QVMathError::unknownArity(group.subterms[index]->description()));
}

// The count terms from first on (operands already moved out) become one call.
void replaceByFunction(Term& group, size_t first, size_t count, const QString& name, std::vector<TermPtr> operands)
{
    TermPtr function = makeTerm(TermType::Function);
    function->functionName = name;
    function->subterms = std::move(operands);
    auto begin = group.subterms.begin() + qsizetype(first);
    group.subterms.erase(begin + 1, begin + qsizetype(count));
    group.subterms[first] = std::move(function);
}

bool Parse::reduceBinary(Term& group, size_t i)
{
    auto& terms = group.subterms;
    const size_t n = terms.size();
    const QString text = terms[i]->description();
    if (i == 0)
        return fail(QVMathError::noLeftOperandToBinary(text));
    if (i == n - 1)
        return fail(QVMathError::noRightOperandToBinary(text));
    // A run of prefix operators after the operator is taken with its operand first.
    size_t k = 1;
    for (const Term* current = terms[i + 1].get();
         current->isOperator() && current->token->operatorArity() == QVMathOperatorArity::Unary;
         current = terms[i + k].get()) {
        if (i + k + 1 >= n)
            return fail(QVMathError::noRightOperandToUnary(current->description()));
        ++k;
    }
    if (k >= 2) {
        TermPtr run = makeTerm(TermType::Group);
        for (size_t j = i + 1; j <= i + k; ++j)
            run->subterms.push_back(std::move(terms[j]));
        terms.erase(terms.begin() + qsizetype(i + 2), terms.begin() + qsizetype(i + k + 1));
        terms[i + 1] = std::move(run);
    }
    const QString function = terms[i]->token->operatorFunction();
    std::vector<TermPtr> operands;
    operands.push_back(std::move(terms[i - 1]));
    operands.push_back(std::move(terms[i + 1]));
    replaceByFunction(group, i - 1, 3, function, std::move(operands));
    return true;
}

bool Parse::reduceUnary(Term& group, size_t i)
{
    auto& terms = group.subterms;
    const QString text = terms[i]->description();
    const QString function = terms[i]->token->operatorFunction();
    std::vector<TermPtr> operand;
    if (parser.associativityForOperatorFunction(terms[i]->operatorType()) == QVMathOperatorAssociativity::Right) {
        if (i == terms.size() - 1)
            return fail(QVMathError::noRightOperandToUnary(text));
        operand.push_back(std::move(terms[i + 1]));
        replaceByFunction(group, i, 2, function, std::move(operand));
    } else {
        if (i == 0)
            return fail(QVMathError::noLeftOperandToUnary(text));
        operand.push_back(std::move(terms[i - 1]));
        replaceByFunction(group, i - 1, 2, function, std::move(operand));
    }
    return true;
}

QVExpressionPtr Parse::expression(const Term& term)
{
    switch (term.type) {
    case TermType::Number:
        return QVExpression::numberExpressionWithNumber(*term.token->numberValue());
    case TermType::Variable:
        return QVExpression::variableExpressionWithVariable(term.token->token());
    case TermType::Operator:
        break;
    case TermType::Group:
        if (term.subterms.size() == 1)
            return expression(*term.subterms.front());
        break;
    case TermType::Function: {
        QList<QVExpressionPtr> arguments;
        for (const TermPtr& argument : term.subterms) {
            QVExpressionPtr next = expression(*argument);
            if (!next)
                return nullptr;
            arguments.append(next);
        }
        return QVExpression::functionExpressionWithFunction(term.functionName, arguments, &error);
    }
    }
    fail(QVMathError::expressionFromTerm(term.description()));
    return nullptr;
}

} // namespace

QVParser::QVParser(std::unique_ptr<QVMathStringTokenizer> tokenizer)
    : m_tokenizer(std::move(tokenizer)), m_operatorSet(m_tokenizer->operatorSet())
{
}

std::unique_ptr<QVParser> QVParser::parserWithString(const QString& text, Error* error)
{
    return parserWithTokenizer(QVMathStringTokenizer::tokenizerWithString(text, nullptr, error), error);
}

std::unique_ptr<QVParser> QVParser::parserWithTokenizer(std::unique_ptr<QVMathStringTokenizer> tokenizer, Error*)
{
    if (!tokenizer)
        return nullptr;
    return std::unique_ptr<QVParser>(new QVParser(std::move(tokenizer)));
}

QVMathOperatorAssociativity QVParser::associativityForOperatorFunction(const QString& function) const
{
    const auto op = m_operatorSet->operatorForFunction(function);
    return op ? op->associativity() : QVMathOperatorAssociativity::Left;
}

QVExpressionPtr QVParser::parsedExpressionWithError(Error* error)
{
    m_tokenizer->reset();
    Parse parse{*m_tokenizer, *this, {}};
    Term root{TermType::Group, std::nullopt, {}, {}, false};
    while (m_tokenizer->peekNextObject()) {
        TermPtr term = parse.nextTerm(0);
        if (!term) {
            setError(error, parse.error);
            return nullptr;
        }
        root.subterms.push_back(std::move(term));
    }
    QVExpressionPtr expression = parse.resolve(root, 0) ? parse.expression(root) : nullptr;
    if (!expression)
        setError(error, parse.error);
    return expression;
}
