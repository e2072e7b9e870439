// SPDX-License-Identifier: MIT
// The pure functions behind every frame: bounds from the Min/Max texts, the value text, which
// identifiers may be sent, and the frame bytes.
#include "serial/parameterframe.h"
#include "ui/channelvalues.h"

#include <QtTest>

constexpr int intMax = std::numeric_limits<int>::max(), intMin = std::numeric_limits<int>::min();

class ValuesTest : public QObject
{
    Q_OBJECT

private slots:
    void boundFromText_data();
    void boundFromText();
    void valueText_data();
    void valueText();
    void frameIdentifier_data();
    void frameIdentifier();
    void frame_data();
    void frame();
};

void ValuesTest::boundFromText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("bound"); // intMin + 1: the box cannot be read
    const int unreadable = intMin + 1;
    // Single precision holds 0.7 as 0.699999988; the exact product truncates to 69999.
    // clang-format off
    const std::pair<const char *, int> rows[] = {
        {"1.5", 150000}, {"0.2", 20000}, {"0.7", 69999}, {"0.01", 999}, {"-0.7", -69999},
        {"1e3", 100000000}, {"0.00001", 0}, {"", 0}, {" ", 0}, {"-", 0}, {" 2.5\n", 250000},
        {"21474.8", 2147480078}, {"21475", intMax}, {"-21475", intMin}, {"1e30", intMax},
        {"-1e39", intMin}, {"abc", unreadable}, {"0,5", unreadable}, {"1e", unreadable},
        {"nan", unreadable}, {"-inf", unreadable}, {"٣", unreadable},
        {"１０", unreadable}};
    // clang-format on
    for (const auto &[text, bound] : rows)
        QTest::newRow(text) << QString::fromUtf8(text) << bound;
}

void ValuesTest::boundFromText()
{
    QFETCH(QString, text);
    QFETCH(int, bound);
    QCOMPARE(pidtune::boundFromText(text).value_or(intMin + 1), bound);
}

void ValuesTest::valueText_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("text");
    // clang-format off
    const std::pair<int, const char *> rows[] = {
        {150000, "       1.5"}, {1234567, "   12.3457"}, {69999, "   0.69999"}, {100000, "         1"},
        {10, "    0.0001"}, {1, "     1e-05"}, {-9, "    -9e-05"}, {0, "         0"},
        {-150000, "      -1.5"}, {intMax, "   21474.8"}, {intMin, "  -21474.8"}};
    // clang-format on
    for (const auto &[position, text] : rows)
        QTest::newRow(text) << position << QString::fromLatin1(text);
}

void ValuesTest::valueText()
{
    QFETCH(int, position);
    QFETCH(QString, text);
    QCOMPARE(pidtune::valueText(position), text);
    QCOMPARE(pidtune::valueFromText(text), text.trimmed().toFloat());
}

void ValuesTest::frameIdentifier_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("identifier"); // -1: no frame may be sent
    // clang-format off
    const std::pair<const char *, int> rows[] = {
        {"0", 0}, {"255", 255}, {" 7\n", 7}, {"010", 10}, {"+9", 9}, {"256", -1}, {"-1", -1},
        {"", -1}, {" ", -1}, {"+", -1}, {"7a", -1}, {"1.5", -1}, {"0x10", -1},
        {"4294967296", -1}, {"1 2", -1}};
    // clang-format on
    for (const auto &[text, identifier] : rows)
        QTest::newRow(text) << QString::fromLatin1(text) << identifier;
    QTest::newRow("4 NUL NUL LF 6") << QStringLiteral("4\0\0\n6") << -1; // toInt stops at NUL
}

void ValuesTest::frameIdentifier()
{
    QFETCH(QString, text);
    QFETCH(int, identifier);
    QCOMPARE(pidtune::frameIdentifier(text).value_or(-1), identifier);
}

void ValuesTest::frame_data()
{
    QTest::addColumn<int>("identifier");
    QTest::addColumn<float>("value");
    QTest::addColumn<QString>("hex");
    QTest::newRow("3, 1.5") << 3 << 1.5f << "05 FA 06 03 04 00 00 C0 3F";
    QTest::newRow("300 wraps") << 300 << 0.69999f << "05 FA 06 2C 04 8B 32 33 3F";
    QTest::newRow("-1") << -1 << 12.3457f << "05 FA 06 FF 04 FD 87 45 41";
    QTest::newRow("1e-05") << 1 << 1e-05f << "05 FA 06 01 04 AC C5 27 37";
    QTest::newRow("-21474.8") << 1 << -21474.8f << "05 FA 06 01 04 9A C5 A7 C6";
}

void ValuesTest::frame()
{
    QFETCH(int, identifier);
    QFETCH(float, value);
    QFETCH(QString, hex);
    QCOMPARE(pidtune::frameToHex(pidtune::encodeParameterFrame(identifier, value)), hex);
}

QTEST_APPLESS_MAIN(ValuesTest)
#include "tst_values.moc"
