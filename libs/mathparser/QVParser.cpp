#include "QVParser.h"

#include "QVMathError.h"

#include <QStringList>

#include <deque>
#include <list>
#include <map>

namespace {

enum class TermType { Number = 1, Variable = 2, Operator = 3, Function = 4, Group = 5 };

// A group owns its subterms; a function term's subterms are its arguments.
struct Term {
    TermType type;
    std::optional<QVMathStringToken> token;
    std::list<std::unique_ptr<Term>> subterms;
    QString functionName;
    bool resolved = false;
    bool binary = false;  // made by a binary reduction: its operands add no nesting
    bool removed = false; // taken out of its group during the group's reduction

    bool isOperator() const { return type == TermType::Operator; }
    QString operatorType() const { return token->operatorType(); }
    QString description() const;
};
using TermPtr = std::unique_ptr<Term>;
using Position = std::list<TermPtr>::iterator;

TermPtr makeTerm(TermType type, std::optional<QVMathStringToken> token = std::nullopt)
{
    return TermPtr(new Term{type, std::move(token), {}, {}, false, false, false});
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
    bool reduceBinary(Term& group, Position op);
    bool reduceUnary(Term& group, Position op);

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
    Term body{TermType::Group, std::nullopt, {}, {}, false, false, false};
    if (!fillGroup(body, depth + 1)) {
        if (error.localizedDescription() != QVMathError::nestingTooDeep().localizedDescription())
            fail(QVMathError::missingParentheses(token.description()));
        return nullptr;
    }
    function->token = body.token;
    std::list<TermPtr> run;
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
    if (term.type == TermType::Group && !reduce(term))
        return false;
    for (TermPtr& subterm : term.subterms) {
        if (!resolve(*subterm, term.binary ? depth : depth + 1))
            return false;
    }
    return term.resolved = true;
}

// Reduces the group to one term, one operator at a time: of the operators of
// highest precedence the first, or the last when the first is
// right-associative. Reductions only take operators out of the group, so
// each precedence's operators are queued once, in order, and those taken out
// as operands are skipped when they come up.
bool Parse::reduce(Term& group)
{
    struct Entry {
        Term* term;
        Position position;
    };
    std::map<int64_t, std::deque<Entry>, std::greater<>> levels;
    for (Position it = group.subterms.begin(); it != group.subterms.end(); ++it) {
        (*it)->removed = false; // a term taken into a new group belongs to it now
        const int64_t precedence = (*it)->isOperator() ? (*it)->token->operatorPrecedence() : -2;
        if (precedence >= -1)
            levels[precedence].push_back({it->get(), it});
    }
    while (group.subterms.size() >= 2) {
        while (!levels.empty()) {
            auto& queue = levels.begin()->second;
            while (!queue.empty() && queue.front().term->removed)
                queue.pop_front();
            while (!queue.empty() && queue.back().term->removed)
                queue.pop_back();
            if (!queue.empty())
                break;
            levels.erase(levels.begin());
        }
        if (levels.empty())
            return fail(QVMathError::invalidFormat(group.description()));
        auto& queue = levels.begin()->second;
        const bool right = parser.associativityForOperatorFunction(queue.front().term->operatorType())
                           == QVMathOperatorAssociativity::Right;
        const Position op = right ? queue.back().position : queue.front().position;
        right ? queue.pop_back() : queue.pop_front();
        (*op)->removed = true;
        bool reduced = false;
        switch ((*op)->token->operatorArity()) {
        case QVMathOperatorArity::Binary:
            reduced = reduceBinary(group, op);
            break;
        case QVMathOperatorArity::Unary:
            reduced = reduceUnary(group, op);
            break;
        case QVMathOperatorArity::Unknown:
            return fail(QVMathError::unknownArity((*op)->description()));
        }
        if (!reduced)
            return false;
    }
    return true;
}

TermPtr take(Position position)
{
    (*position)->removed = true;
    return std::move(*position);
}

// The terms from first up to end (operands already taken) become one call.
void replaceByFunction(Term& group, Position first, Position end, const QString& name, std::list<TermPtr> operands)
{
    TermPtr function = makeTerm(TermType::Function);
    function->functionName = name;
    function->binary = operands.size() == 2;
    function->subterms = std::move(operands);
    group.subterms.insert(group.subterms.erase(first, end), std::move(function));
}

bool Parse::reduceBinary(Term& group, Position op)
{
    auto& terms = group.subterms;
    const QString text = (*op)->description();
    if (op == terms.begin())
        return fail(QVMathError::noLeftOperandToBinary(text));
    Position right = std::next(op);
    if (right == terms.end())
        return fail(QVMathError::noRightOperandToBinary(text));
    // A run of prefix operators after the operator is taken with its operand first.
    Position last = right;
    while ((*last)->isOperator() && (*last)->token->operatorArity() == QVMathOperatorArity::Unary) {
        if (std::next(last) == terms.end())
            return fail(QVMathError::noRightOperandToUnary((*last)->description()));
        ++last;
    }
    if (last != right) {
        TermPtr run = makeTerm(TermType::Group);
        for (Position it = right; it != std::next(last); ++it)
            run->subterms.push_back(take(it));
        right = terms.insert(terms.erase(right, std::next(last)), std::move(run));
    }
    const Position left = std::prev(op);
    std::list<TermPtr> operands;
    operands.push_back(take(left));
    operands.push_back(take(right));
    replaceByFunction(group, left, std::next(right), (*op)->token->operatorFunction(), std::move(operands));
    return true;
}

bool Parse::reduceUnary(Term& group, Position op)
{
    auto& terms = group.subterms;
    const QString text = (*op)->description();
    const QString function = (*op)->token->operatorFunction();
    std::list<TermPtr> operand;
    if (parser.associativityForOperatorFunction((*op)->operatorType()) == QVMathOperatorAssociativity::Right) {
        if (std::next(op) == terms.end())
            return fail(QVMathError::noRightOperandToUnary(text));
        operand.push_back(take(std::next(op)));
        replaceByFunction(group, op, std::next(op, 2), function, std::move(operand));
    } else {
        if (op == terms.begin())
            return fail(QVMathError::noLeftOperandToUnary(text));
        operand.push_back(take(std::prev(op)));
        replaceByFunction(group, std::prev(op), std::next(op), function, std::move(operand));
    }
    return true;
}

QVExpressionPtr Parse::expression(const Term& term)
{
    switch (term.type) {
    case TermType::Number:
        return QVExpression::numberExpressionWithNumber(*term.token->numberValue());
    case TermType::Variable:
        // The tokenizer lets a quoted empty name through; it must not fail silently.
        if (QVExpressionPtr variable = QVExpression::variableExpressionWithVariable(term.token->token()))
            return variable;
        fail(QVMathError::emptyVariableName());
        return nullptr;
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
    Term root{TermType::Group, std::nullopt, {}, {}, false, false, false};
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
