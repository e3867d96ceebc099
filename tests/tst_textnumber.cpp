#include "base/textnumber.h"

#include <QTest>

#include <limits>

class TextNumberTest : public QObject
{
    Q_OBJECT
private slots:
    void leadingNumber_data();
    void leadingNumber();
    void isNumeric_data();
    void isNumeric();
    void formatFixed_data();
    void formatFixed();
    void roundHalfEven_data();
    void roundHalfEven();
};

void TextNumberTest::leadingNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected");
    const struct
    {
        const char *name;
        const char16_t *text;
        double expected;
    } rows[] = {
        {"plain whole", u"90", 90},
        {"trailing letters", u"12abc", 12},
        {"blanks before", u"   7", 7},
        {"blanks inside", u" 1 2", 12},
        {"decimal", u"100.5", 100.5},
        {"leading point", u".5", 0.5},
        {"trailing point", u"12.", 12},
        {"second point stops", u"1.2.3", 1.2},
        {"negative", u"-3.25", -3.25},
        {"plus sign", u"+4", 4},
        {"exponent", u"1e3", 1000},
        {"exponent with sign", u"2.5E-2", 0.025},
        {"exponent without digits", u"1e", 1},
        {"exponent sign only", u"7e+", 7},
        {"minus alone", u"-", 0},
        {"point alone", u".", 0},
        {"empty", u"", 0},
        {"letters", u"abc", 0},
        {"chinese", u"一百", 0},
        {"comma is no decimal point", u"1,5", 1},
        {"tab and newline are blanks", u"\t\n8", 8},
    };
    for (const auto &row : rows)
        QTest::addRow("%s", row.name) << QString::fromUtf16(row.text) << row.expected;
}

void TextNumberTest::leadingNumber()
{
    QFETCH(QString, text);
    QFETCH(double, expected);
    QCOMPARE(::leadingNumber(text), expected);
}

void TextNumberTest::isNumeric_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("numeric");
    QTest::addRow("digits") << "12" << true;
    QTest::addRow("blanks around") << " 7 " << true;
    QTest::addRow("negative decimal") << "-1.5" << true;
    QTest::addRow("exponent") << "1e3" << true;
    QTest::addRow("empty") << "" << false;
    QTest::addRow("blank") << "  " << false;
    QTest::addRow("trailing letter") << "12a" << false;
    QTest::addRow("letters") << "ab" << false;
    QTest::addRow("point alone") << "." << false;
    QTest::addRow("minus alone") << "-" << false;
    QTest::addRow("inner blank") << "1 2" << false;
    QTest::addRow("exponent without digits") << "1e" << false;
}

void TextNumberTest::isNumeric()
{
    QFETCH(QString, text);
    QFETCH(bool, numeric);
    QCOMPARE(::isNumeric(text), numeric);
}

void TextNumberTest::formatFixed_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<QString>("expected");
    QTest::addRow("whole") << 120.0 << 0 << "120";
    QTest::addRow("half up to whole") << 2.5 << 0 << "3";
    QTest::addRow("negative half away from zero") << -2.5 << 0 << "-3";
    QTest::addRow("leading zero") << 0.5 << 2 << "0.50";
    QTest::addRow("five decimals") << 100.0 << 5 << "100.00000";
    QTest::addRow("decimal half rounds up") << 2.675 << 2 << "2.68";
    QTest::addRow("binary noise is ignored") << 1.005 << 2 << "1.01";
    QTest::addRow("carry through nines") << 9.9996 << 3 << "10.000";
    QTest::addRow("millimetres") << (99.9965 - 100.0) * 1000 << 2 << "-3.50";
    QTest::addRow("rate") << -0.00015 * 1000 << 3 << "-0.150";
    QTest::addRow("negative rounding to zero has no sign") << -0.004 << 2 << "0.00";
    QTest::addRow("negative zero") << -0.0 << 1 << "0.0";
    QTest::addRow("tiny") << 1e-12 << 5 << "0.00000";
    QTest::addRow("large") << 123456789.125 << 2 << "123456789.13";
    QTest::addRow("not a number") << std::numeric_limits<double>::quiet_NaN() << 2 << "";
}

void TextNumberTest::formatFixed()
{
    QFETCH(double, value);
    QFETCH(int, decimals);
    QFETCH(QString, expected);
    QCOMPARE(::formatFixed(value, decimals), expected);
}

void TextNumberTest::roundHalfEven_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("expected");
    QTest::addRow("half to even down") << 2.5 << 2;
    QTest::addRow("half to even up") << 3.5 << 4;
    QTest::addRow("below half") << 36.4 << 36;
    QTest::addRow("above half") << 36.6 << 37;
    QTest::addRow("negative half") << -2.5 << -2;
    QTest::addRow("huge clamps") << 1e30 << std::numeric_limits<int>::max();
}

void TextNumberTest::roundHalfEven()
{
    QFETCH(double, value);
    QFETCH(int, expected);
    QCOMPARE(::roundHalfEven(value), expected);
}

QTEST_GUILESS_MAIN(TextNumberTest)
#include "tst_textnumber.moc"
