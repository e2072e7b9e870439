// SPDX-License-Identifier: MIT
#include "app/mainwindow.h"
#include "pseudoterminal.h"
#include "serial/parameterframe.h"
#include "testwindow.h"

#include <QtTest>
#include <QtWidgets>

using namespace testwindow;

namespace {

QString hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

// Min and Max wide enough for any position; the test then puts the slider where it wants it,
// as the keyboard would, and releases the handle there.
void fullRange(const QWidget &window, int n, const QString &identifier)
{
    setUpChannel(window, n, identifier, QStringLiteral("-30000"), QStringLiteral("30000"));
}

} // namespace

class ChannelControlsTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void releaseSendsTheShownValue_data();
    void releaseSendsTheShownValue();
    void invalidIdentifierSendsNothing_data();
    void invalidIdentifierSendsNothing();
    void typedBounds_data();
    void typedBounds();
    void partialInputTakesEffectAtOnce();
    void minAndMaxKeepTheRangeOrdered();
    void topOfMaxPoint7Sends0Point69999();
    void guardsStopBeforeAnythingChanges();
    void movesWithoutTheHandleSendNothing();
    void rangeChangeMovesPositionButNotLabel();
    void pressWithoutMovingSendsTheSameFrameAgain();
    void identifierWithTrailingLineBreak();
    void releaseWhileClosedSaysSo();
    void refusedWriteIsReported();

private:
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<PseudoTerminal> device;
};

void ChannelControlsTest::init()
{
    device = std::make_unique<PseudoTerminal>();
    if (!device->isValid())
        QSKIP(qPrintable(device->reason()));
    window = std::make_unique<MainWindow>();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    openPort(*window, device->slavePath());
    QVERIFY(window->connection());
}

void ChannelControlsTest::cleanup()
{
    window.reset();
    device.reset();
}

void ChannelControlsTest::releaseSendsTheShownValue_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<QString>("identifier");
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("frame");

    QTest::newRow("1.5") << 1 << "3" << 150000 << "       1.5"
                         << "05 FA 06 03 04 00 00 C0 3F";
    QTest::newRow("0.69999") << 2 << "44" << 69999 << "   0.69999"
                             << "05 FA 06 2C 04 8B 32 33 3F";
    QTest::newRow("12.3457, not 12.34567") << 3 << "255" << 1234567 << "   12.3457"
                                           << "05 FA 06 FF 04 FD 87 45 41";
    QTest::newRow("-1.5") << 4 << "0" << -150000 << "      -1.5"
                          << "05 FA 06 00 04 00 00 C0 BF";
    QTest::newRow("zero") << 5 << "7" << 0 << "         0"
                          << "05 FA 06 07 04 00 00 00 00";
    QTest::newRow("1e-05") << 6 << "1" << 1 << "     1e-05"
                           << "05 FA 06 01 04 AC C5 27 37";
    QTest::newRow("-9e-05") << 1 << "1" << -9 << "    -9e-05"
                            << pidtune::frameToHex(pidtune::encodeParameterFrame(1, -9e-05f));
    QTest::newRow("0.0001") << 2 << "1" << 10 << "    0.0001"
                            << pidtune::frameToHex(pidtune::encodeParameterFrame(1, 0.0001f));
    QTest::newRow("INT_MAX") << 3 << "1" << std::numeric_limits<int>::max() << "   21474.8"
                             << "05 FA 06 01 04 9A C5 A7 46";
    QTest::newRow("INT_MIN") << 4 << "1" << std::numeric_limits<int>::min() << "  -21474.8"
                             << "05 FA 06 01 04 9A C5 A7 C6";
}

void ChannelControlsTest::releaseSendsTheShownValue()
{
    QFETCH(int, channel);
    QFETCH(QString, identifier);
    QFETCH(int, position);
    QFETCH(QString, label);
    QFETCH(QString, frame);

    fullRange(*window, channel, identifier);
    const pidtune::ChannelWidgets row = testwindow::channel(*window, channel);
    row.slider->setValue(position);
    QCOMPARE(row.slider->value(), position);
    pressAndRelease(row.slider);

    QCOMPARE(row.value->text(), label);
    QTRY_COMPARE(device->received().size(), 9);
    QCOMPARE(hex(device->takeReceived()), frame);
    QCOMPARE(status(*window), QStringLiteral("已发送：") + frame);
    // No other channel moved.
    for (int other = 1; other <= 6; ++other) {
        if (other != channel)
            QVERIFY(testwindow::channel(*window, other).value->text().isEmpty());
    }
}

void ChannelControlsTest::invalidIdentifierSendsNothing_data()
{
    QTest::addColumn<QString>("identifier");
    for (const char *text : {"300", "256", "-1", "abc", " ", "7a", "1.5", "0x10", "4294967296"})
        QTest::newRow(text) << QString::fromLatin1(text);
}

void ChannelControlsTest::invalidIdentifierSendsNothing()
{
    QFETCH(QString, identifier);
    fullRange(*window, 2, identifier);
    const pidtune::ChannelWidgets row = channel(*window, 2);
    row.slider->setValue(150000);
    pressAndRelease(row.slider);

    // The value is shown as usual, but no frame can go to a parameter that was not meant.
    QCOMPARE(row.value->text(), QStringLiteral("       1.5"));
    QCOMPARE(status(*window), QStringLiteral("标识符无效（应为 0-255 的整数），参数未发送"));
    // A valid frame sent afterwards arrives alone: nothing was queued before it.
    type(row.identifier, QStringLiteral("3"));
    pressAndRelease(row.slider);
    QTRY_COMPARE(device->received().size(), 9);
    QCOMPARE(hex(device->takeReceived()), QStringLiteral("05 FA 06 03 04 00 00 C0 3F"));
}

void ChannelControlsTest::typedBounds_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("bound");
    QTest::newRow("1.5") << "1.5" << 150000;
    QTest::newRow("0.1") << "0.1" << 10000;
    QTest::newRow("0.7") << "0.7" << 69999;
    QTest::newRow("0.01") << "0.01" << 999;
    QTest::newRow("-0.7") << "-0.7" << -69999;
    QTest::newRow("1e3") << "1e3" << 100000000;
    QTest::newRow("0.00001") << "0.00001" << 0;
    QTest::newRow("abc") << "abc" << 0;
    QTest::newRow("1,5") << "1,5" << 0;
    QTest::newRow("21474.8") << "21474.8" << 2147480078;
    QTest::newRow("21475") << "21475" << std::numeric_limits<int>::max();
    QTest::newRow("-21475") << "-21475" << std::numeric_limits<int>::min();
}

void ChannelControlsTest::typedBounds()
{
    QFETCH(QString, text);
    QFETCH(int, bound);
    const pidtune::ChannelWidgets min = channel(*window, 5), max = channel(*window, 6);
    type(min.min, text);
    type(max.max, text);
    QCOMPARE(min.slider->minimum(), bound);
    QCOMPARE(max.slider->maximum(), bound);
    QVERIFY(device->takeReceived().isEmpty());
}

void ChannelControlsTest::partialInputTakesEffectAtOnce()
{
    const pidtune::ChannelWidgets row = channel(*window, 1);
    QList<int> minima;
    for (const char key : QByteArray("2.5")) {
        QTest::keyClick(row.min, key);
        minima << row.slider->minimum();
    }
    QCOMPARE(minima, (QList<int> {200000, 200000, 250000}));
    // Clearing the field sets the bound back to 0.
    type(row.min, QString());
    QCOMPARE(row.slider->minimum(), 0);
}

void ChannelControlsTest::minAndMaxKeepTheRangeOrdered()
{
    const pidtune::ChannelWidgets a = channel(*window, 1), b = channel(*window, 2);
    type(a.min, QStringLiteral("5"));
    type(a.max, QStringLiteral("1"));
    QCOMPARE(qMakePair(a.slider->minimum(), a.slider->maximum()), qMakePair(100000, 100000));
    type(b.max, QStringLiteral("1"));
    type(b.min, QStringLiteral("5"));
    QCOMPARE(qMakePair(b.slider->minimum(), b.slider->maximum()), qMakePair(500000, 500000));
}

void ChannelControlsTest::topOfMaxPoint7Sends0Point69999()
{
    setUpChannel(*window, 3, QStringLiteral("9"), QStringLiteral("0"), QStringLiteral("0.7"));
    const pidtune::ChannelWidgets row = channel(*window, 3);
    dragToEnd(row.slider, true);
    QCOMPARE(row.slider->value(), 69999);
    QCOMPARE(row.value->text(), QStringLiteral("   0.69999"));
    QTRY_COMPARE(device->received().size(), 9);
    QCOMPARE(hex(device->takeReceived()), QStringLiteral("05 FA 06 09 04 8B 32 33 3F"));
}

void ChannelControlsTest::guardsStopBeforeAnythingChanges()
{
    const pidtune::ChannelWidgets row = channel(*window, 4);
    type(row.identifier, QStringLiteral("5"));
    dragToEnd(row.slider, true); // box unchecked
    QVERIFY(row.value->text().isEmpty());

    tick(row.enable);
    QVERIFY(row.enable->isChecked());
    type(row.identifier, QString());
    dragToEnd(row.slider, false); // identifier empty
    QVERIFY(row.value->text().isEmpty());
    QVERIFY(status(*window).isEmpty());
    QTest::qWait(50); // let any stray write reach the device before looking
    QVERIFY(device->takeReceived().isEmpty());
}

void ChannelControlsTest::movesWithoutTheHandleSendNothing()
{
    setUpChannel(*window, 5, QStringLiteral("5"), QStringLiteral("0"), QStringLiteral("0.2"));
    const pidtune::ChannelWidgets row = channel(*window, 5);
    row.slider->setFocus();
    QTest::keyClick(row.slider, Qt::Key_End);
    QCOMPARE(row.slider->value(), 20000);
#if QT_VERSION >= QT_VERSION_CHECK(5, 15, 0)
    const QPoint centre = row.slider->rect().center();
    QWheelEvent wheel(QPointF(centre), QPointF(row.slider->mapToGlobal(centre)), QPoint(),
                      QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(row.slider, &wheel);
    QVERIFY(row.slider->value() < 20000);
#endif
    QVERIFY(row.value->text().isEmpty());
    QTest::qWait(50);
    QVERIFY(device->takeReceived().isEmpty());

    // The next release sends the position of that moment.
    const int position = row.slider->value();
    pressAndRelease(row.slider);
    QCOMPARE(row.slider->value(), position);
    QTRY_COMPARE(device->received().size(), 9);
    QCOMPARE(device->takeReceived(),
             QByteArray(reinterpret_cast<const char *>(
                            pidtune::encodeParameterFrame(5, float(position / 100000.0)).data()),
                        9));
}

void ChannelControlsTest::rangeChangeMovesPositionButNotLabel()
{
    setUpChannel(*window, 6, QStringLiteral("6"), QStringLiteral("0"), QStringLiteral("0.2"));
    const pidtune::ChannelWidgets row = channel(*window, 6);
    dragToEnd(row.slider, true);
    QCOMPARE(row.value->text(), QStringLiteral("       0.2"));
    QTRY_COMPARE(device->received().size(), 9);
    device->takeReceived();

    type(row.min, QStringLiteral("0.3"));
    QCOMPARE(row.slider->value(), 30000);
    QCOMPARE(row.value->text(), QStringLiteral("       0.2"));
    QTest::qWait(50);
    QVERIFY(device->takeReceived().isEmpty());
}

void ChannelControlsTest::pressWithoutMovingSendsTheSameFrameAgain()
{
    fullRange(*window, 1, QStringLiteral("3"));
    const pidtune::ChannelWidgets row = channel(*window, 1);
    row.slider->setValue(150000);
    pressAndRelease(row.slider);
    pressAndRelease(row.slider);
    QTRY_COMPARE(device->received().size(), 18);
    QCOMPARE(hex(device->takeReceived()),
             QStringLiteral("05 FA 06 03 04 00 00 C0 3F 05 FA 06 03 04 00 00 C0 3F"));
}

void ChannelControlsTest::identifierWithTrailingLineBreak()
{
    fullRange(*window, 2, QStringLiteral("7"));
    const pidtune::ChannelWidgets row = channel(*window, 2);
    QTest::keyClick(row.identifier, Qt::Key_Return);
    QCOMPARE(row.identifier->toPlainText(), QStringLiteral("7\n"));
    pressAndRelease(row.slider);
    QTRY_COMPARE(device->received().size(), 9);
    QCOMPARE(hex(device->takeReceived()), QStringLiteral("05 FA 06 07 04 00 00 00 00"));
}

void ChannelControlsTest::releaseWhileClosedSaysSo()
{
    pressOpenButton(*window);
    QVERIFY(!window->connection());
    fullRange(*window, 3, QStringLiteral("3"));
    const pidtune::ChannelWidgets row = channel(*window, 3);
    row.slider->setValue(150000);
    pressAndRelease(row.slider);
    QCOMPARE(row.value->text(), QStringLiteral("       1.5"));
    QCOMPARE(status(*window), QStringLiteral("串口未打开，参数未发送"));
    QVERIFY(device->takeReceived().isEmpty());
}

void ChannelControlsTest::refusedWriteIsReported()
{
    fullRange(*window, 4, QStringLiteral("4"));
    const pidtune::ChannelWidgets row = channel(*window, 4);
    row.slider->setValue(150000);
    // The port object is still there but takes no data, as after a driver-level close.
    window->connection()->close();
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("not open")));
    pressAndRelease(row.slider);
    QCOMPARE(row.value->text(), QStringLiteral("       1.5"));
    QVERIFY2(status(*window).startsWith(QStringLiteral("发送失败：")), qPrintable(status(*window)));
    QVERIFY(status(*window).size() > 5);
    QVERIFY(device->takeReceived().isEmpty());
}

QTEST_MAIN(ChannelControlsTest)
#include "tst_channelcontrols.moc"
