// SPDX-License-Identifier: MIT
#include "app/mainwindow.h"
#include "pseudoterminal.h"
#include "testwindow.h"

#include <QtTest>
#include <QtWidgets>

#include <ctime>
#if defined(Q_OS_UNIX)
#include <termios.h>
#endif

using namespace testwindow;

namespace {

const QString openCaption = QStringLiteral("打开串口");
const QString closeCaption = QStringLiteral("关闭串口");

} // namespace

class SerialConnectionTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void lineSettingsAreApplied();
    void openingFails_data();
    void openingFails();
    void closeAndReopenGivesAFreshPort();
    void receivedBytesAreDrained();
    void vanishedDeviceClosesTheConnection();
    void closingTheWindowReleasesTheOpenPort();
    void extraPortsFollowTheSystemOnes();

private:
    std::unique_ptr<PseudoTerminal> device;
};

void SerialConnectionTest::init()
{
    device = std::make_unique<PseudoTerminal>();
    if (!device->isValid())
        QSKIP(qPrintable(device->reason()));
}

void SerialConnectionTest::lineSettingsAreApplied()
{
    MainWindow window;
    QVERIFY(!window.connection());
    openPort(window, device->slavePath());
    QCOMPARE(buttonCaption(window), closeCaption);
    QVERIFY(window.connection() && window.connection()->isOpen());
    QVERIFY(status(window).isEmpty());

#if defined(Q_OS_UNIX)
    termios settings {};
    QVERIFY(device->lineSettings(&settings));
    QCOMPARE(cfgetispeed(&settings), speed_t(B115200));
    QCOMPARE(cfgetospeed(&settings), speed_t(B115200));
    QCOMPARE(settings.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(settings.c_cflag & CSTOPB, tcflag_t(0));
    QCOMPARE(settings.c_cflag & PARENB, tcflag_t(0));
    QCOMPARE(settings.c_cflag & CRTSCTS, tcflag_t(0));
    QCOMPARE(settings.c_iflag & (IXON | IXOFF), tcflag_t(0));
    // Raw: a frame byte of 0x0A must not become 0D 0A, nor anything be echoed back.
    QCOMPARE(settings.c_oflag & OPOST, tcflag_t(0));
    QCOMPARE(settings.c_lflag & (ICANON | ECHO), tcflag_t(0));
#endif
}

void SerialConnectionTest::openingFails_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("statusStart");
    QTest::newRow("empty selector") << QString() << QStringLiteral("没有可用的串口");
    QTest::newRow("no such device") << QStringLiteral("/dev/pidtune-no-such-port")
                                    << QStringLiteral("无法打开串口 /dev/pidtune-no-such-port：");
}

void SerialConnectionTest::openingFails()
{
    QFETCH(QString, port);
    QFETCH(QString, statusStart);
    MainWindow window;
    auto *selector = widget<QComboBox>(window, QStringLiteral("Port_Number_comboBox"));
    selector->clear();
    if (port.isEmpty())
        pressOpenButton(window);
    else
        openPort(window, port);

    QCOMPARE(buttonCaption(window), openCaption);
    QVERIFY(!window.connection());
    QVERIFY2(status(window).startsWith(statusStart), qPrintable(status(window)));
    if (!port.isEmpty()) // the port's own reason follows the colon
        QVERIFY(status(window).size() > statusStart.size());
}

void SerialConnectionTest::closeAndReopenGivesAFreshPort()
{
    MainWindow window;
    openPort(window, device->slavePath());
    QPointer<QSerialPort> first = window.connection();
    QVERIFY(first);

    pressOpenButton(window);
    QCOMPARE(buttonCaption(window), openCaption);
    QVERIFY(!window.connection());
    QTRY_VERIFY(first.isNull());

    openPort(window, device->slavePath());
    QCOMPARE(buttonCaption(window), closeCaption);
    QVERIFY(window.connection() && window.connection()->isOpen());
}

void SerialConnectionTest::receivedBytesAreDrained()
{
    MainWindow window;
    openPort(window, device->slavePath());
    QSerialPort *port = window.connection();
    QVERIFY(port);
    QSignalSpy readyRead(port, &QSerialPort::readyRead);

    device->send(QByteArray(1 << 20, '\x5A'));
    QTRY_COMPARE_WITH_TIMEOUT(device->pendingToSend(), qint64(0), 20000);
    QTRY_VERIFY(readyRead.count() > 0);
    QTRY_COMPARE(port->bytesAvailable(), qint64(0));
    QCOMPARE(window.connection(), port);
    QVERIFY(status(window).isEmpty());
    for (const QLabel *label :
         window.findChildren<QLabel *>(QRegularExpression(QStringLiteral("_value_QLabel$"))))
        QVERIFY(label->text().isEmpty());
}

void SerialConnectionTest::vanishedDeviceClosesTheConnection()
{
    MainWindow window;
    openPort(window, device->slavePath());
    QPointer<QSerialPort> port = window.connection();
    QVERIFY(port);
    QSignalSpy errors(port.data(), &QSerialPort::errorOccurred);

    device->unplug();
    QTRY_COMPARE(buttonCaption(window), openCaption);
    QVERIFY(!window.connection());
    QVERIFY2(status(window).startsWith(QStringLiteral("串口已断开：")), qPrintable(status(window)));
    QTRY_VERIFY(port.isNull());

    // Left open, a dead pseudo-terminal raises errors tens of thousands of times a second. The
    // window must have stopped that: few errors, and the process idles while events run.
    const std::clock_t cpuBefore = std::clock();
    QElapsedTimer wall;
    wall.start();
    QTest::qWait(300);
    const double cpuMs = double(std::clock() - cpuBefore) * 1000.0 / CLOCKS_PER_SEC;
    QVERIFY2(errors.count() < 10, qPrintable(QString::number(errors.count())));
    QVERIFY2(cpuMs < wall.elapsed() / 2.0, qPrintable(QStringLiteral("%1 ms CPU").arg(cpuMs)));

    // A new device on the same window opens as usual.
    PseudoTerminal replacement;
    openPort(window, replacement.slavePath());
    QCOMPARE(buttonCaption(window), closeCaption);
    QVERIFY(window.connection() && window.connection()->isOpen());
}

void SerialConnectionTest::closingTheWindowReleasesTheOpenPort()
{
    auto window = std::make_unique<MainWindow>();
    openPort(*window, device->slavePath());
    QPointer<QSerialPort> port = window->connection();
    QVERIFY(port && port->isOpen());
    window.reset();
    QVERIFY(port.isNull());

    // Nothing of the old connection (lock, exclusive use) is left behind.
    MainWindow next;
    openPort(next, device->slavePath());
    QCOMPARE(buttonCaption(next), closeCaption);
}

void SerialConnectionTest::extraPortsFollowTheSystemOnes()
{
    const QString listed
        = QStringLiteral("%1%2%2%1").arg(device->slavePath(), QDir::listSeparator());
    qputenv("PIDTUNE_EXTRA_PORTS", listed.toLocal8Bit());
    MainWindow window;
    qunsetenv("PIDTUNE_EXTRA_PORTS");

    auto *selector = widget<QComboBox>(window, QStringLiteral("Port_Number_comboBox"));
    QCOMPARE(selector->itemText(selector->count() - 1), device->slavePath());
    QCOMPARE(selector->findText(device->slavePath()), selector->count() - 1); // listed once
    selector->setCurrentIndex(selector->count() - 1);
    pressOpenButton(window);
    QCOMPARE(buttonCaption(window), closeCaption);
}

QTEST_MAIN(SerialConnectionTest)
#include "tst_serialconnection.moc"
