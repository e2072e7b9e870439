// SPDX-License-Identifier: MIT
#include "ui/channelvalues.h"

#include <QtTest>

#include <limits>

class ChannelValuesTest : public QObject
{
    Q_OBJECT

private slots:
    void boundFromText_data();
    void boundFromText();
    void valueText_data();
    void valueText();
    void frameIdentifier_data();
    void frameIdentifier();
};

void ChannelValuesTest::boundFromText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("bound");

    constexpr int intMax = std::numeric_limits<int>::max();
    constexpr int intMin = std::numeric_limits<int>::min();
    QTest::newRow("1.5") << "1.5" << 150000;
    QTest::newRow("0.2") << "0.2" << 20000;
    QTest::newRow("0.1") << "0.1" << 10000;
    // Single precision holds 0.7 as 0.699999988; the exact product truncates to 69999.
    QTest::newRow("0.7") << "0.7" << 69999;
    QTest::newRow("0.01") << "0.01" << 999;
    QTest::newRow("-0.7") << "-0.7" << -69999;
    QTest::newRow("1e3") << "1e3" << 100000000;
    QTest::newRow("0.00001") << "0.00001" << 0;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("abc") << "abc" << 0;
    QTest::newRow("lone minus") << "-" << 0;
    QTest::newRow("decimal comma") << "1,5" << 0;
    QTest::newRow("surrounding whitespace") << " 2.5\n" << 250000;
    QTest::newRow("21474.8") << "21474.8" << 2147480078;
    QTest::newRow("21475 saturates") << "21475" << intMax;
    QTest::newRow("-21475 saturates") << "-21475" << intMin;
    QTest::newRow("1e30 saturates") << "1e30" << intMax;
    QTest::newRow("inf") << "inf" << intMax;
    QTest::newRow("-inf") << "-inf" << intMin;
    QTest::newRow("nan") << "nan" << 0;
}

void ChannelValuesTest::boundFromText()
{
    QFETCH(QString, text);
    QFETCH(int, bound);
    QCOMPARE(pidtune::boundFromText(text), bound);
}

void ChannelValuesTest::valueText_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("digits");

    QTest::newRow("150000") << 150000 << "1.5";
    QTest::newRow("1234567") << 1234567 << "12.3457";
    QTest::newRow("69999") << 69999 << "0.69999";
    QTest::newRow("20000") << 20000 << "0.2";
    QTest::newRow("100000") << 100000 << "1";
    QTest::newRow("12345") << 12345 << "0.12345";
    QTest::newRow("10") << 10 << "0.0001";
    QTest::newRow("1") << 1 << "1e-05";
    QTest::newRow("-9") << -9 << "-9e-05";
    QTest::newRow("0") << 0 << "0";
    QTest::newRow("-150000") << -150000 << "-1.5";
    QTest::newRow("INT_MAX") << std::numeric_limits<int>::max() << "21474.8";
    QTest::newRow("INT_MIN") << std::numeric_limits<int>::min() << "-21474.8";
}

void ChannelValuesTest::valueText()
{
    QFETCH(int, position);
    QFETCH(QString, digits);
    const QString text = pidtune::valueText(position);
    QCOMPARE(text.size(), 10);
    QCOMPARE(text.trimmed(), digits);
    QCOMPARE(text, QString(10 - digits.size(), QLatin1Char(' ')) + digits);
    // Read back, the label gives the number it shows, not the raw position.
    QCOMPARE(pidtune::valueFromText(text), digits.toFloat());
}

void ChannelValuesTest::frameIdentifier_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("identifier"); // -1: no frame may be sent

    QTest::newRow("0") << "0" << 0;
    QTest::newRow("3") << "3" << 3;
    QTest::newRow("255") << "255" << 255;
    QTest::newRow("surrounding whitespace") << " 7\n" << 7;
    QTest::newRow("leading zeros") << "007" << 7;
    QTest::newRow("plus sign") << "+9" << 9;
    QTest::newRow("256") << "256" << -1;
    QTest::newRow("300") << "300" << -1;
    QTest::newRow("-1") << "-1" << -1;
    QTest::newRow("-256") << "-256" << -1;
    QTest::newRow("empty") << "" << -1;
    QTest::newRow("single space") << " " << -1;
    QTest::newRow("7a") << "7a" << -1;
    QTest::newRow("1.5") << "1.5" << -1;
    QTest::newRow("hex") << "0x10" << -1;
    QTest::newRow("beyond 32 bits") << "4294967296" << -1;
    QTest::newRow("two numbers") << "1 2" << -1;
}

void ChannelValuesTest::frameIdentifier()
{
    QFETCH(QString, text);
    QFETCH(int, identifier);
    const std::optional<int> result = pidtune::frameIdentifier(text);
    QCOMPARE(result.value_or(-1), identifier);
}

QTEST_APPLESS_MAIN(ChannelValuesTest)
#include "tst_channelvalues.moc"
