// The tokenizer: shapes of token lists, how shared operator tokens resolve,
// number values, enumeration and the errors that refuse a text.
#include "QVMathError.h"
#include "QVMathStringTokenizer.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

QString q(const char16_t* text) { return QString::fromUtf16(text); }

QString joined(const QList<QVMathStringToken>& tokens, bool functions)
{
    QStringList parts;
    for (const QVMathStringToken& token : tokens) {
        if (!functions)
            parts.append(token.description());
        else if (token.tokenType() == QVMathStringTokenType::Operator)
            parts.append(token.operatorFunction());
    }
    return parts.join(' ');
}

QList<QVMathStringToken> tokens(const QString& text, std::shared_ptr<QVMathOperatorSet> set = nullptr)
{
    Error error;
    const auto tokenizer = QVMathStringTokenizer::tokenizerWithString(text, std::move(set), &error);
    EXPECT_TRUE(tokenizer) << text.toStdString() << ": " << error.description().toStdString();
    return tokenizer ? tokenizer->allObjects() : QList<QVMathStringToken>();
}

Error failure(const QString& text, std::shared_ptr<QVMathOperatorSet> set = nullptr)
{
    Error error;
    EXPECT_EQ(QVMathStringTokenizer::tokenizerWithString(text, std::move(set), &error), nullptr) << text.toStdString();
    return error;
}

QString repeated(const QString& term, const QString& separator, int count)
{
    QStringList terms;
    for (int i = 0; i < count; ++i)
        terms.append(term);
    return terms.join(separator);
}

} // namespace

TEST(MathTokenizer, Shapes)
{
    const struct {
        QString text;
        QString expected;
    } cases[] = {
        {"2x", "2 * x ( )"},
        {"2(3)", "2 * ( 3 )"},
        {"(1)(2)", "( 1 ) * ( 2 )"},
        {"2 3", "2 * 3"},
        {"sin(x)", "sin ( x ( ) )"},
        {"sin x", "sin ( ) * x ( )"},
        {"pi 2", "pi ( ) * 2"},
        {"2 pi", "2 * pi ( )"},
        {q(u"\u03C0r"), q(u"\u03C0 ( ) * r ( )")},
        {q(u"a\u03C0 x2"), q(u"a\u03C0 ( ) * x2 ( )")},
        {"3!2", "3 ! * 2"},
        {"0x1F + 0x1f", "31 + 31"},
        {"0xFFFFFFFFFFFFFFFFFFFF", "18446744073709551615"},
        {"0xg", "0xg ( )"},
        {"1e3 1E+3 1.5e-2", "1e3 * 1E+3 * 1.5e-2"},
        {"1e", "1 * e ( )"},
        {"1e+", "1 * e ( ) +"},
        {"2e", "2 * e ( )"},
        {".5", ".5"},
        {".", ". ( )"},
        {".e5 + 1", ".e5 ( ) + 1"},
        {"1.2.3", "1.2 * .3"},
        {"<= =< << **", "<= =< << **"},
        {"2***3", "2 ** * 3"},
        {"2 MOD 3", "2 * MOD ( ) * 3"},
        {"$a 'a' \"a\"", "$a * $a * $a"},
        {R"('it\'s' "\\")", R"($it's * $\)"},
        {"''", "$"},
        {q(u"$\u03C0"), q(u"$\u03C0")},
        {"$ 2", "$ ( ) * 2"},
        {"'open", "'open ( )"},
        {"2 ? 3", "2 * ? ( ) * 3"},
        {QString::fromUtf16(u"1+2\0+3", 6), "1 + 2"},
        {" \t\n ", ""},
        {q(u"1\u00B02"), q(u"1 \u00B0 * 2")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(joined(tokens(c.text), false), c.expected) << c.text.toStdString();
}

TEST(MathTokenizer, SharedTokensResolveByWhatPrecedes)
{
    const struct {
        QString text;
        QString functions;
    } cases[] = {
        {"-2", "negate"},
        {"2*-2", "multiply negate"},
        {"2-2", "subtract"},
        {"(1)-2", "open_paren close_paren subtract"},
        {q(u"x\u22122"), "open_paren close_paren subtract"},
        {q(u"\u22122"), "negate"},
        {"- -2", "negate negate"},
        {"+2", ""},
        {"(+2)", "open_paren close_paren"},
        {"1 + +2", "add"},
        {"!x", "l_not open_paren close_paren"},
        {"(!x)", "open_paren l_not open_paren close_paren close_paren"},
        {"3!", "factorial"},
        {"(3)!", "open_paren close_paren factorial"},
        {"f(1,!0)", "open_paren comma l_not close_paren"},
        {"3!!", "factorial factorial"},
        {"2**-1", "pow negate"},
        {"2 % 3", "mod"},
        {q(u"\u00AC1"), "l_not"},
        {"1 != 2", "l_neq"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(joined(tokens(c.text), true), c.functions) << c.text.toStdString();

    const auto minus = QVMathStringToken::make("-", QVMathStringTokenType::Operator);
    ASSERT_TRUE(minus);
    EXPECT_EQ(minus->debugDescription(), "- (arity:UNK, precedence:-1, associativity:LEFT, function:)");
    EXPECT_EQ(minus->operatorType(), "invalid");
    EXPECT_FALSE(QVMathStringToken::make("?", QVMathStringTokenType::Operator));
    EXPECT_EQ(tokens("-1").front().debugDescription(),
              "- (arity:UN, precedence:17, associativity:RIGHT, function:negate)");
}

TEST(MathTokenizer, NumberValues)
{
    const struct {
        QString text;
        Number value;
        Number::Kind kind;
    } cases[] = {
        {"0.1", Number(0.1), Number::Kind::Decimal},
        {"0x10", Number(int64_t(16)), Number::Kind::Decimal},
        {"0xFFFFFFFFFFFFFFFFFFFF", Number(UINT64_MAX), Number::Kind::Decimal},
        {"12345678901234567890123456789012345678901234567890", Number(12345678901234567890123456789012345678901234567890.0), Number::Kind::Decimal},
        {"1e127", Number(1e127), Number::Kind::Decimal},
        {"1e200", Number(1e200), Number::Kind::Double},
        {"1e-200", Number(1e-200), Number::Kind::Double},
        {"1.234e-127", Number(1.234e-127), Number::Kind::Double},
        {"1e400", Number(std::numeric_limits<double>::infinity()), Number::Kind::Double},
        {"1e-400", Number(0.0), Number::Kind::Decimal},
        {"1.", Number(int64_t(1)), Number::Kind::Decimal},
    };
    for (const auto& c : cases) {
        const auto list = tokens(c.text);
        ASSERT_EQ(list.size(), 1) << c.text.toStdString();
        const auto& value = list.front().numberValue();
        ASSERT_TRUE(value) << c.text.toStdString();
        EXPECT_EQ(value->kind(), c.kind) << c.text.toStdString();
        EXPECT_EQ(value->toDouble(), c.value.toDouble()) << c.text.toStdString();
    }
    EXPECT_EQ(tokens("12345678901234567890123456789012345678901234567890").front().numberValue()->description(),
              "12345678901234567890123456789012345679000000000000");
    EXPECT_FALSE(tokens("x").front().numberValue());
}

TEST(MathTokenizer, Enumeration)
{
    Error error;
    const auto tokenizer = QVMathStringTokenizer::tokenizerWithString("1 + 2", nullptr, &error);
    ASSERT_TRUE(tokenizer);
    EXPECT_EQ(tokenizer->nextObject()->token(), "1");
    EXPECT_EQ(tokenizer->nextObject()->token(), "+");
    EXPECT_EQ(joined(tokenizer->allObjects(), false), "2");
    EXPECT_EQ(tokenizer->peekNextObject()->token(), "2");
    EXPECT_EQ(tokenizer->nextObject()->token(), "2");
    EXPECT_FALSE(tokenizer->nextObject());
    EXPECT_FALSE(tokenizer->peekNextObject());
    EXPECT_TRUE(tokenizer->allObjects().isEmpty());
    tokenizer->reset();
    EXPECT_EQ(tokenizer->nextObject()->token(), "1");
    EXPECT_EQ(tokenizer->operatorSet(), QVMathOperatorSet::defaultOperatorSet());
}

TEST(MathTokenizer, LengthBound)
{
    EXPECT_EQ(tokens(repeated("1", "+", 2048) + "!").size(), QVMathStringTokenizer::maximumTokenCount);
    const Error error = failure(repeated("1", "+", 2049));
    EXPECT_EQ(error.domain, QVMathError::domain());
    EXPECT_EQ(error.code, 1);
    EXPECT_EQ(error.localizedDescription(), "expression too long");
    EXPECT_EQ(failure(repeated("1", "+", 2047) + "+x").code, 1); // 4097 with the name's "()"
    EXPECT_EQ(failure(QString(100000, '(')).code, 1);
}

TEST(MathTokenizer, RefusedTexts)
{
    // A character of the tokenizer's own set that begins no default token.
    auto set = std::make_shared<QVMathOperatorSet>();
    set->addOperatorWithPrecedenceSameAs(QVMathOperator::make("at", {"@"}, QVMathOperatorArity::Binary,
                                                              QVMathOperatorAssociativity::Left),
                                         set->operatorForFunction("add"));
    Error error = failure("1 @ 2", set);
    EXPECT_EQ(error.code, 3);
    EXPECT_EQ(error.localizedDescription(), "unable to parse identifier");
    EXPECT_EQ(joined(tokens("1@2"), false), "1 * @2 ( )");

    // A token two operators share that nothing resolves; the default set is
    // this test process's own.
    QVMathOperatorSet::defaultOperatorSet()->addTokens({"#"}, "multiply");
    QVMathOperatorSet::defaultOperatorSet()->addTokens({"#"}, "divide");
    error = failure("2 # 3");
    EXPECT_EQ(error.code, 6);
    EXPECT_EQ(error.localizedDescription(), "unknown precedence for token: #");
    EXPECT_EQ(QVMathStringTokenizer::tokenizerWithString("#"), nullptr);
}
