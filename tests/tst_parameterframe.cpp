// SPDX-License-Identifier: MIT
#include "serial/parameterframe.h"

#include <QtTest>

#include <cmath>
#include <limits>

using pidtune::encodeParameterFrame;

class ParameterFrameTest : public QObject
{
    Q_OBJECT

private slots:
    void encodes_data();
    void encodes();
    void nonFiniteValuesKeepTheirBits();
};

void ParameterFrameTest::encodes_data()
{
    QTest::addColumn<int>("identifier");
    QTest::addColumn<float>("value");
    QTest::addColumn<QString>("hex");

    QTest::newRow("id 3, 1.5") << 3 << 1.5f << "05 FA 06 03 04 00 00 C0 3F";
    QTest::newRow("id 300 wraps, 0.69999") << 300 << 0.69999f << "05 FA 06 2C 04 8B 32 33 3F";
    QTest::newRow("id -1, 12.3457") << -1 << 12.3457f << "05 FA 06 FF 04 FD 87 45 41";
    QTest::newRow("id 0, -1.5") << 0 << -1.5f << "05 FA 06 00 04 00 00 C0 BF";
    QTest::newRow("zero") << 7 << 0.0f << "05 FA 06 07 04 00 00 00 00";
    QTest::newRow("id 255") << 255 << 1.0f << "05 FA 06 FF 04 00 00 80 3F";
    QTest::newRow("id 256") << 256 << 1.0f << "05 FA 06 00 04 00 00 80 3F";
    QTest::newRow("id -256") << -256 << 1.0f << "05 FA 06 00 04 00 00 80 3F";
    QTest::newRow("id INT_MIN") << std::numeric_limits<int>::min() << 1.0f
                                << "05 FA 06 00 04 00 00 80 3F";
    QTest::newRow("1e-05") << 1 << 1e-05f << "05 FA 06 01 04 AC C5 27 37";
    QTest::newRow("21474.8") << 1 << 21474.8f << "05 FA 06 01 04 9A C5 A7 46";
    QTest::newRow("-21474.8") << 1 << -21474.8f << "05 FA 06 01 04 9A C5 A7 C6";
    QTest::newRow("negative zero") << 1 << -0.0f << "05 FA 06 01 04 00 00 00 80";
    QTest::newRow("smallest subnormal")
        << 1 << std::numeric_limits<float>::denorm_min() << "05 FA 06 01 04 01 00 00 00";
}

void ParameterFrameTest::encodes()
{
    QFETCH(int, identifier);
    QFETCH(float, value);
    QFETCH(QString, hex);
    QCOMPARE(pidtune::frameToHex(encodeParameterFrame(identifier, value)), hex);
}

void ParameterFrameTest::nonFiniteValuesKeepTheirBits()
{
    QCOMPARE(pidtune::frameToHex(encodeParameterFrame(9, std::numeric_limits<float>::infinity())),
             QStringLiteral("05 FA 06 09 04 00 00 80 7F"));
    const pidtune::ParameterFrame nan
        = encodeParameterFrame(9, std::numeric_limits<float>::quiet_NaN());
    QCOMPARE(nan[8] & 0x7F, 0x7F);
    QVERIFY(nan[7] & 0x80);
}

QTEST_APPLESS_MAIN(ParameterFrameTest)
#include "tst_parameterframe.moc"
