// Operator records and sets: the precedence levels as operators are placed,
// look-ups by token and function, and the refusals of bad definitions.
#include "QVMathOperatorSet.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QMap>

#include <stdexcept>

namespace {

using Arity = QVMathOperatorArity;
using Associativity = QVMathOperatorAssociativity;
using Levels = QMap<QString, int64_t>;
using testing::ThrowsMessage;

Levels levels(const QVMathOperatorSet& set)
{
    Levels result;
    int64_t previous = -1;
    for (const auto& op : set) {
        EXPECT_GE(op->precedence(), previous) << "set out of order at " << op->function().toStdString();
        previous = op->precedence();
        result.insert(op->function(), op->precedence());
    }
    return result;
}

// The levels of a fresh set, from l_or 0 up to comma 21.
Levels freshLevels()
{
    return {{"l_or", 0},      {"l_and", 1},     {"l_eq", 2},        {"l_neq", 2},       {"l_lt", 3},
            {"l_gt", 4},      {"l_ltoe", 5},    {"l_gtoe", 6},      {"l_not", 7},       {"or", 8},
            {"xor", 9},       {"and", 10},      {"lshift", 11},     {"rshift", 12},     {"add", 13},
            {"subtract", 13}, {"multiply", 14}, {"divide", 14},     {"not", 16},        {"mod", 16},
            {"negate", 17},   {"positive", 17}, {"factorial", 18},  {"dtor", 18},       {"pow", 19},
            {"open_paren", 20}, {"close_paren", 20}, {"comma", 21}};
}

Levels with(Levels base, const Levels& changes, const QStringList& removed = {})
{
    for (const QString& function : removed)
        base.remove(function);
    for (auto it = changes.begin(); it != changes.end(); ++it)
        base.insert(it.key(), it.value());
    return base;
}

QStringList functions(const QList<std::shared_ptr<QVMathOperator>>& operators)
{
    QStringList result;
    for (const auto& op : operators)
        result.append(op->function());
    return result;
}

std::shared_ptr<QVMathOperator> binary(const char* function, const char* token)
{
    return QVMathOperator::make(function, {token}, Arity::Binary, Associativity::Left);
}

} // namespace

TEST(MathOperators, PercentSwitchMovesLevelsUpAndNeverBack)
{
    QVMathOperatorSet set;
    EXPECT_EQ(levels(set), freshLevels());

    const Levels percent = with(freshLevels(),
                                {{"factorial", 19}, {"dtor", 19}, {"percent", 19}, {"pow", 20},
                                 {"open_paren", 21}, {"close_paren", 21}, {"comma", 22}},
                                {"mod"});
    const Levels back = with(freshLevels(),
                             {{"mod", 16}, {"not", 17}, {"negate", 18}, {"positive", 18}, {"factorial", 20},
                              {"dtor", 20}, {"pow", 21}, {"open_paren", 22}, {"close_paren", 22}, {"comma", 23}});
    set.setInterpretsPercentSignAsModulo(false);
    EXPECT_EQ(levels(set), percent);
    EXPECT_EQ(functions(set.operatorsForToken("%")), QStringList{"percent"});
    EXPECT_EQ(set.operatorForFunction("mod"), nullptr);
    set.setInterpretsPercentSignAsModulo(false);
    EXPECT_EQ(levels(set), percent);
    set.setInterpretsPercentSignAsModulo(true);
    EXPECT_EQ(levels(set), back);
    EXPECT_EQ(functions(set.operatorsForToken("%")), QStringList{"mod"});
}

TEST(MathOperators, TokenLookups)
{
    const QVMathOperatorSet set;
    const struct {
        QString token;
        QStringList functions;
    } cases[] = {
        {"-", {"subtract", "negate"}},      {QString(QChar(0x2212)), {"subtract", "negate"}}, {"+", {"add", "positive"}},
        {"!", {"l_not", "factorial"}},      {"%", {"mod"}},                       {"<=", {"l_ltoe"}},
        {"=>", {"l_gtoe"}},                 {QString(QChar(0x00B0)), {"dtor"}},             {"**", {"pow"}},
        {"?", {}},                          {"", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(functions(set.operatorsForToken(c.token)), c.functions) << c.token.toStdString();
    EXPECT_EQ(set.operatorForFunction("pow")->associativity(), Associativity::Right);
    EXPECT_EQ(set.operatorForFunction("ADD"), nullptr);
    EXPECT_EQ(QVMathOperator::infoForOperatorFunction("comma")->arity(), Arity::Unknown);
}

TEST(MathOperators, TokenValidity)
{
    const struct {
        QString token;
        bool valid;
    } cases[] = {
        {"+", true},   {"mod", true},  {QString(QChar(0x2264)), true}, {"a b", true}, {"", false},    {"1x", false},
        {"\"a", false}, {"$a", false}, {"'a", false},        {".a", false}, {" +", false}, {"+\n", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(QVMathOperator::isValidToken(c.token), c.valid) << c.token.toStdString();

    EXPECT_THAT([] { QVMathOperator::make("f", {"@"}, Arity::Unknown, Associativity::Left); },
                ThrowsMessage<std::invalid_argument>("Unable to create operator with unknown arity"));
    EXPECT_THAT([] { QVMathOperator::make("f", {"@", "1X"}, Arity::Unary, Associativity::Left); },
                ThrowsMessage<std::invalid_argument>("Invalid operator token: 1x"));
    EXPECT_EQ(QVMathOperator::make("f", {"AT"}, Arity::Unary, Associativity::Left)->tokens(), QStringList{"at"});
}

TEST(MathOperators, PlacingNewOperators)
{
    const struct {
        const char* name;
        void (QVMathOperatorSet::*add)(const std::shared_ptr<QVMathOperator>&, const std::shared_ptr<QVMathOperator>&);
        const char* relativeTo;
        Levels changes;
    } cases[] = {
        {"higher than add", &QVMathOperatorSet::addOperatorWithPrecedenceHigherThan, "add",
         {{"new", 15}, {"multiply", 15}, {"divide", 15}, {"not", 17}, {"mod", 17}, {"negate", 18},
          {"positive", 18}, {"factorial", 19}, {"dtor", 19}, {"pow", 20}, {"open_paren", 21},
          {"close_paren", 21}, {"comma", 22}}},
        {"lower than multiply", &QVMathOperatorSet::addOperatorWithPrecedenceLowerThan, "multiply",
         {{"new", 14}, {"multiply", 15}, {"divide", 15}, {"not", 17}, {"mod", 17}, {"negate", 18},
          {"positive", 18}, {"factorial", 19}, {"dtor", 19}, {"pow", 20}, {"open_paren", 21},
          {"close_paren", 21}, {"comma", 22}}},
        {"same as pow", &QVMathOperatorSet::addOperatorWithPrecedenceSameAs, "pow", {{"new", 19}}},
    };
    for (const auto& c : cases) {
        QVMathOperatorSet set;
        const auto op = binary("new", "@@");
        (set.*c.add)(op, set.operatorForFunction(c.relativeTo));
        EXPECT_EQ(levels(set), with(freshLevels(), c.changes)) << c.name;
        EXPECT_EQ(set.operatorForFunction("new"), op) << c.name;
        EXPECT_EQ(functions(set.operatorsForToken("@@")), QStringList{"new"}) << c.name;
        EXPECT_NE(levels(QVMathOperatorSet()), levels(set)) << c.name;
    }
}

TEST(MathOperators, ExistingFunctionOnlyGainsTokens)
{
    QVMathOperatorSet set;
    const auto plus = binary("add", "PLUS");
    set.addOperatorWithPrecedenceHigherThan(plus, set.operatorForFunction("pow"));
    EXPECT_EQ(levels(set), freshLevels());
    EXPECT_EQ(set.operatorForFunction("add")->tokens(), (QStringList{"+", "plus"}));
    EXPECT_EQ(functions(set.operatorsForToken("Plus")), QStringList{"add"});

    set.addTokens({"~"}, "multiply");
    EXPECT_EQ(functions(set.operatorsForToken("~")), (QStringList{"not", "multiply"}));
    EXPECT_THAT([&] { set.addTokens({"x"}, "nope"); },
                ThrowsMessage<std::invalid_argument>("No operator is defined for function 'nope'"));
}

TEST(MathOperators, TakenTokenRefusedWithoutChange)
{
    QVMathOperatorSet set;
    const auto op = std::make_shared<QVMathOperator>("twice", QStringList{"@", "**"}, Arity::Unary, 0,
                                                     Associativity::Left);
    EXPECT_THAT([&] { set.addOperatorWithPrecedenceLowerThan(op, set.operatorForFunction("add")); },
                ThrowsMessage<std::invalid_argument>("An operator is already defined for '**'"));
    EXPECT_EQ(levels(set), freshLevels());
    EXPECT_TRUE(set.operatorsForToken("@").isEmpty());
}

TEST(MathOperators, SetsOwnTheirRecords)
{
    QVMathOperatorSet set;
    set.addOperatorWithPrecedenceSameAs(binary("new", "@@"), set.operatorForFunction("add"));
    set.addTokens({"plus"}, "add");
    set.setInterpretsPercentSignAsModulo(false);
    set.operatorForFunction("pow")->setPrecedence(99);

    const auto copy = set.copy();
    EXPECT_FALSE(copy->interpretsPercentSignAsModulo());
    EXPECT_EQ(copy->operatorForFunction("new"), nullptr);
    EXPECT_TRUE(copy->operatorsForToken("plus").isEmpty());
    EXPECT_EQ(copy->operatorForFunction("pow")->precedence(), 20);
    EXPECT_EQ(QVMathOperatorSet::defaultOperatorSet()->operatorForFunction("pow")->precedence(), 19);
    EXPECT_EQ(QVMathOperator::defaultOperators().at(23)->precedence(), 18);
    EXPECT_TRUE(copy->operatorForFunction("add")->description().endsWith(
        "{(+) => add(), Arity: Binary, Assoc: Left, Precedence: 13}"));
}

TEST(MathOperators, GivenOperatorListIsNotRead)
{
    QVMathOperatorSet changed;
    changed.operatorForFunction("pow")->setPrecedence(99);
    const struct {
        const char* name;
        std::vector<std::shared_ptr<QVMathOperator>> operators;
    } cases[] = {
        {"empty", {}},
        {"one stranger", {binary("new", "@@")}},
        {"a changed set's", changed.operators()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QVMathOperatorSet set(c.operators);
        EXPECT_EQ(levels(set), freshLevels());
        EXPECT_EQ(set.operatorForFunction("new"), nullptr);
        EXPECT_TRUE(set.operatorsForToken("@@").isEmpty());
        EXPECT_NE(set.operatorForFunction("pow"), changed.operatorForFunction("pow"));
    }
}
