// SPDX-License-Identifier: MIT
// The whole window, driven as an operator drives it, with the test playing the device on a
// pseudo-terminal: what it shows and what the device gets.
#include "app/mainwindow.h"
#include "pseudoterminal.h"
#include "serial/parameterframe.h"
#include "serial/stopsignals.h"
#include "testwindow.h"

#include <QtTest>
#include <QtWidgets>

#include <csignal>
#include <termios.h>

using namespace testwindow;

namespace {

QString hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

QByteArray frame(int identifier, float value)
{
    const pidtune::ParameterFrame bytes = pidtune::encodeParameterFrame(identifier, value);
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), int(bytes.size()));
}

QString sent(int identifier, float value)
{
    return QStringLiteral("已发送：") + hex(frame(identifier, value));
}

QStringList messages;
void collect(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    messages << QString::number(type) + QLatin1Char(' ') + message;
}

} // namespace

class WindowTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void formAndSlotTable();
    void releaseSendsTheShownValue_data();
    void releaseSendsTheShownValue();
    void releaseSendsNothing_data();
    void releaseSendsNothing();
    void rangeFollowsBothBoxes_data();
    void rangeFollowsBothBoxes();
    void boxesHoldOneShortLineOfPlainText();
    void deviceNotReading();
    void lostLine_data();
    void lostLine();
    void aReleasedPortNeverReachesTheWindow();
    void openFailures_data();
    void openFailures();
    void settingsFile_data();
    void settingsFile();
    void stopSignalClosesThePortCleanly();

private:
    std::unique_ptr<PseudoTerminal> device;
    std::unique_ptr<MainWindow> window;
};

void WindowTest::init()
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

void WindowTest::cleanup()
{
    window.reset();
    device.reset();
}

void WindowTest::formAndSlotTable()
{
    messages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(collect);
    MainWindow fresh; // connecting by name warns about any slot without its widget
    qInstallMessageHandler(previous);
    QCOMPARE(messages.filter(QRegularExpression(QStringLiteral("^[^0] "))), QStringList());

    QCOMPARE(fresh.windowTitle(), QStringLiteral("PID控制"));
    QCOMPARE(widget<QLabel>(fresh, QStringLiteral("label"))->text(), QStringLiteral("串口号:"));
    QCOMPARE(buttonCaption(fresh), QStringLiteral("打开串口"));
    for (int n = 1; n <= 6; ++n) {
        const pidtune::ChannelWidgets row = channel(fresh, n);
        QCOMPARE(row.enable->text(), QStringLiteral("使能"));
        // The captions are numbered in creation order, not by channel.
        const int id = n == 1 ? 2 : 3 * n, min = id + 1, max = n == 1 ? 4 : 3 * n - 1;
        for (const auto &[number, text] :
             {std::pair {id, "标识符:"}, {min, "Min:"}, {max, "Max:"}}) {
            const auto *caption = widget<QLabel>(fresh, QStringLiteral("label_%1").arg(number));
            QCOMPARE(caption->text(), QString::fromUtf8(text));
            QCOMPARE(caption->y(), row.slider->y());
        }
        QCOMPARE(qMakePair(row.slider->minimum(), row.slider->maximum()), qMakePair(0, 20000));
    }

    const QMetaObject &meta = MainWindow::staticMetaObject;
    QStringList table;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i)
        table << QString::fromLatin1(meta.method(i).methodSignature());
    QCOMPARE(
        table.join(QLatin1Char(' ')),
        QStringLiteral("on_openButton_clicked() Read_Data() %1 %2 %3 %4 %5 %6 %7 %8 %9")
            .arg("on_data_1_Min_TextEdit_textChanged() on_data_1_Max_TextEdit_textChanged()",
                 "on_data_1_value_Qslider_sliderReleased()",
                 "on_data_2_Min_TextEdit_textChanged() on_data_2_Max_TextEdit_textChanged()",
                 "on_data_2_value_Qslider_sliderReleased()",
                 "on_data_3_Min_TextEdit_textChanged() "
                 "on_data_3_value_Qslider_sliderReleased()",
                 "on_data_3_Max_TextEdit_textChanged() on_data_4_Min_TextEdit_textChanged()",
                 "on_data_5_Min_TextEdit_textChanged() on_data_6_Min_TextEdit_textChanged()",
                 "on_data_4_value_Qslider_sliderReleased() "
                 "on_data_5_value_Qslider_sliderReleased()",
                 "on_data_6_value_Qslider_sliderReleased() on_data_5_Max_TextEdit_textChanged() "
                 "on_data_4_Max_TextEdit_textChanged() on_data_6_Max_TextEdit_textChanged()"));
}

void WindowTest::releaseSendsTheShownValue_data()
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
    QTest::newRow("12.3457") << 3 << "255" << 1234567 << "   12.3457"
                             << "05 FA 06 FF 04 FD 87 45 41";
    QTest::newRow("-1.5") << 4 << "0" << -150000 << "      -1.5"
                          << "05 FA 06 00 04 00 00 C0 BF";
    QTest::newRow("0") << 5 << "7\n"
                       << 0 << "         0"
                       << "05 FA 06 07 04 00 00 00 00";
    QTest::newRow("1e-05") << 6 << " 1" << 1 << "     1e-05"
                           << "05 FA 06 01 04 AC C5 27 37";
    QTest::newRow("INT_MIN") << 1 << "1" << std::numeric_limits<int>::min() << "  -21474.8"
                             << "05 FA 06 01 04 9A C5 A7 C6";
}

void WindowTest::releaseSendsTheShownValue()
{
    QFETCH(int, channel);
    QFETCH(QString, identifier);
    QFETCH(int, position);
    QFETCH(QString, label);
    QFETCH(QString, frame);
    setUpChannel(*window, channel, identifier, QStringLiteral("-30000"), QStringLiteral("30000"));
    const pidtune::ChannelWidgets row = testwindow::channel(*window, channel);
    row.slider->setValue(position); // as the keyboard would: no frame yet
    QCOMPARE(row.slider->value(), position);
    pressAndRelease(row.slider);

    QCOMPARE(row.value->text(), label);
    QTRY_COMPARE(hex(device->received()), frame);
    QCOMPARE(status(*window), QStringLiteral("已发送：") + frame);
    for (int other = 1; other <= 6; ++other)
        QCOMPARE(testwindow::channel(*window, other).value->text().isEmpty(), other != channel);
}

void WindowTest::releaseSendsNothing_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<QString>("identifier");
    QTest::addColumn<QString>("max");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("portOpen");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("status");
    QTest::newRow("not enabled") << 1 << "1"
                                 << "1" << false << true << ""
                                 << "";
    QTest::newRow("no identifier") << 2 << ""
                                   << "1" << true << true << ""
                                   << "";
    QTest::newRow("identifier 256")
        << 3 << "256"
        << "1" << true << true << "       0.5"
        << QStringLiteral("标识符无效（应为 0-255 的整数），参数未发送");
    QTest::newRow("port closed") << 4 << "4"
                                 << "1" << true << false << "       0.5"
                                 << QStringLiteral("串口未打开，参数未发送");
    QTest::newRow("Min equals Max")
        << 5 << "5"
        << "0.5" << true << true << ""
        << QStringLiteral("通道 5 的 Min 不小于 Max，滑块无法拖动，参数未发送");
}

void WindowTest::releaseSendsNothing()
{
    QFETCH(int, channel);
    QFETCH(QString, identifier);
    QFETCH(QString, max);
    QFETCH(bool, enabled);
    QFETCH(bool, portOpen);
    QFETCH(QString, label);
    QFETCH(QString, status);
    setUpChannel(*window, channel, identifier, QStringLiteral("0.5"), max);
    const pidtune::ChannelWidgets row = testwindow::channel(*window, channel);
    if (!enabled)
        tick(row.enable);
    if (!portOpen)
        pressOpenButton(*window);
    pressAndRelease(row.slider);
    QCOMPARE(row.value->text(), label);
    QCOMPARE(testwindow::status(*window), status);

    // A frame sent afterwards arrives alone: nothing went out before it.
    if (!portOpen)
        openPort(*window, device->slavePath());
    setUpChannel(*window, 6, QStringLiteral("6"), QStringLiteral("0"), QStringLiteral("1"));
    pressAndRelease(testwindow::channel(*window, 6).slider);
    QTRY_COMPARE(device->received(), frame(6, 0));
}

void WindowTest::rangeFollowsBothBoxes_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<QString>("min");
    QTest::addColumn<QString>("max");
    QTest::addColumn<QString>("edit"); // keys typed at the end of the box named first
    QTest::addColumn<int>("minimum");
    QTest::addColumn<int>("maximum");
    // Max 10 becomes 15 by Backspace and 5: the "1" between must not keep Min at 1.
    QTest::newRow("max 10 to 15") << 1 << "5"
                                  << "10"
                                  << "max:\b5" << 500000 << 1500000;
    QTest::newRow("min -10 to -20") << 2 << "-10"
                                    << "-5"
                                    << "min:\b\b\b-20" << -2000000 << -500000;
    QTest::newRow("min above max") << 3 << "5"
                                   << "1"
                                   << "" << 100000 << 100000;
    QTest::newRow("max below min") << 4 << "0"
                                   << "1"
                                   << "min:\b5" << 100000 << 100000;
    QTest::newRow("0.7 and 1e3") << 5 << "0.7"
                                 << "1e3"
                                 << "" << 69999 << 100000000;
    QTest::newRow("cleared max") << 6 << "-1"
                                 << "2"
                                 << "max:\b" << -100000 << 0;
}

void WindowTest::rangeFollowsBothBoxes()
{
    QFETCH(int, channel);
    QFETCH(QString, min);
    QFETCH(QString, max);
    QFETCH(QString, edit);
    QFETCH(int, minimum);
    QFETCH(int, maximum);
    setUpChannel(*window, channel, QStringLiteral("1"), min, max);
    const pidtune::ChannelWidgets row = testwindow::channel(*window, channel);
    if (!edit.isEmpty()) {
        QTextEdit *field = edit.startsWith(QLatin1String("min")) ? row.min : row.max;
        QTest::keyClick(field, Qt::Key_End);
        for (const QChar key : edit.mid(4)) {
            if (key == QLatin1Char('\b'))
                QTest::keyClick(field, Qt::Key_Backspace);
            else
                QTest::keyClick(field, key.toLatin1());
        }
    }
    QCOMPARE(qMakePair(row.slider->minimum(), row.slider->maximum()), qMakePair(minimum, maximum));
    if (minimum == maximum)
        return;
    // Neither end of the slider sends a value outside the boxes.
    dragToEnd(row.slider, false);
    dragToEnd(row.slider, true);
    QTRY_COMPARE(device->received(), frame(1, minimum / 100000.0f) + frame(1, maximum / 100000.0f));
}

void WindowTest::boxesHoldOneShortLineOfPlainText()
{
    const auto fields = window->findChildren<QTextEdit *>();
    QCOMPARE(fields.size(), 18);
    for (QTextEdit *field : fields) {
        // Copied from a web page: the markup and its image must not come along.
        auto *copied = new QMimeData;
        copied->setHtml(
            QStringLiteral("<b>8</b><img src=\"%1\">").arg(QFINDTESTDATA("CMakeLists.txt")));
        copied->setText(QStringLiteral("8"));
        QGuiApplication::clipboard()->setMimeData(copied);
        type(field, QString());
        field->paste();
        QCOMPARE(field->toPlainText(), QStringLiteral("8"));

        // A long number stays on one line instead of wrapping into the next.
        type(field, QStringLiteral("-12.3456789"));
        field->document()->documentLayout()->documentSize();
        QCOMPARE(field->document()->firstBlock().layout()->lineCount(), 1);

        // A page of digits is cut to what a box keeps, and the operator is told.
        QGuiApplication::clipboard()->setText(QString(50000, QLatin1Char('9')));
        field->paste();
        QCOMPARE(field->toPlainText().size(), 256);
        QCOMPARE(status(*window),
                 QStringLiteral("输入过长：每个框最多 256 个字符，多余部分已删去"));
    }
}

void WindowTest::deviceNotReading()
{
    setUpChannel(*window, 1, QStringLiteral("1"), QStringLiteral("-30000"),
                 QStringLiteral("30000"));
    setUpChannel(*window, 2, QStringLiteral("2"), QStringLiteral("-30000"),
                 QStringLiteral("30000"));
    const pidtune::ChannelWidgets one = channel(*window, 1), two = channel(*window, 2);
    const qint64 filler = device->stopReading();
    const std::tuple<QSlider *, int, QString> releases[] = {
        {one.slider, 100000, QStringLiteral("设备未接收数据：1 帧等待发送")},
        {two.slider, 200000, QStringLiteral("设备未接收数据：2 帧等待发送")},
        {two.slider, 300000,
         QStringLiteral("设备未接收数据：2 帧等待发送，1 帧已被同一标识符的新值替换")},
    };
    for (const auto &[slider, position, text] : releases) {
        slider->setValue(position);
        pressAndRelease(slider);
        QCOMPARE(status(*window), text);
    }
    device->takeReceived();
    device->resumeReading();
    QTRY_COMPARE(device->received().size(), filler + 18);
    QCOMPARE(device->received().mid(int(filler)), frame(1, 1) + frame(2, 3));
    QTRY_COMPARE(status(*window), sent(2, 3));
    QCOMPARE(buttonCaption(*window), QStringLiteral("关闭串口"));

    // Closing with a frame still waiting says it was not sent.
    device->stopReading();
    pressAndRelease(one.slider);
    pressOpenButton(*window);
    QCOMPARE(status(*window), QStringLiteral("串口已关闭，1 帧未发出"));
}

void WindowTest::lostLine_data()
{
    QTest::addColumn<bool>("releaseAtOnce");
    QTest::newRow("noticed while idle") << false;
    QTest::newRow("found by a release") << true;
}

void WindowTest::lostLine()
{
    QFETCH(bool, releaseAtOnce);
    setUpChannel(*window, 1, QStringLiteral("1"), QStringLiteral("0"), QStringLiteral("1"));
    QPointer<QSerialPort> port = window->connection();
    device->unplug();
    if (releaseAtOnce) // before the event loop can notice: the write itself finds the line gone
        pressAndRelease(channel(*window, 1).slider);
    QTRY_COMPARE(buttonCaption(*window), QStringLiteral("打开串口"));
    QVERIFY2(status(*window).startsWith(QStringLiteral("串口已断开：")),
             qPrintable(status(*window)));
    QVERIFY(!window->connection());
    QTRY_VERIFY(port.isNull());

    PseudoTerminal replacement;
    openPort(*window, replacement.slavePath());
    QCOMPARE(buttonCaption(*window), QStringLiteral("关闭串口"));
}

void WindowTest::aReleasedPortNeverReachesTheWindow()
{
    QPointer<QSerialPort> released = window->connection();
    pressOpenButton(*window);
    openPort(*window, device->slavePath());
    QVERIFY(released && released != window->connection());
    // Whatever the old port still emits before it is deleted (errors raised while closing a
    // dead device, say) concerns a connection that is gone.
    emit released->errorOccurred(QSerialPort::ResourceError);
    emit released->readyRead();
    QCOMPARE(buttonCaption(*window), QStringLiteral("关闭串口"));
    QVERIFY(window->connection() && window->connection()->isOpen());
    QTRY_VERIFY(released.isNull());
}

void WindowTest::openFailures_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("status"); // its start; the system's reason may follow
    QTest::newRow("empty selector") << QString() << QStringLiteral("没有可用的串口");
    QTest::newRow("no such device") << QStringLiteral("/dev/pidtune-no-such-port")
                                    << QStringLiteral("无法打开串口 /dev/pidtune-no-such-port：");
    QTest::newRow("in use") << QStringLiteral("held") << QStringLiteral("：串口正被其他程序占用（");
}

void WindowTest::openFailures()
{
    QFETCH(QString, port);
    QFETCH(QString, status);
    MainWindow other;
    widget<QComboBox>(other, QStringLiteral("Port_Number_comboBox"))->clear();
    if (port.isEmpty())
        pressOpenButton(other);
    else // the test window holds the device
        openPort(other, port == QLatin1String("held") ? device->slavePath() : port);
    QCOMPARE(buttonCaption(other), QStringLiteral("打开串口"));
    QVERIFY(!other.connection());
    QVERIFY2(testwindow::status(other).contains(status), qPrintable(testwindow::status(other)));
}

void WindowTest::settingsFile_data()
{
    QTest::addColumn<QByteArray>("file"); // "dir": a folder where the file should be
    QTest::addColumn<int>("channel");
    QTest::addColumn<QStringList>("fields"); // identifier, Min, Max
    QTest::addColumn<int>("minimum");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<QString>("status");
    const QByteArray two = "[1_Data]\nType_Flag=1\nMin=-1\nMax=0.2\n[2_Data]\nType_Flag=7\n";
    QTest::newRow("complete") << two << 1 << QStringList {"1", "-1", "0.2"} << -100000 << 20000
                              << QString();
    QTest::newRow("identifier only")
        << two << 2 << QStringList {"7", "", ""} << 0 << 20000 << QString();
    QTest::newRow("only 2_Data/Max") << QByteArray("[2_Data]\nMax=1\n[7_Data]\nMin=3\n") << 2
                                     << QStringList {"", "", "1"} << 0 << 100000 << QString();
    QTest::newRow("min above max") << QByteArray("[4_Data]\nMin=5\nMax=1\n") << 4
                                   << QStringList {"", "5", "1"} << 100000 << 100000 << QString();
    QTest::newRow("comma and markup")
        << QByteArray("[6_Data]\nType_Flag=<b>7</b>\nMin=1,5\nMax=2\n") << 6
        << QStringList {"<b>7</b>", "", "2"} << 0 << 200000 << QString();
    QTest::newRow("too long") << "[3_Data]\nMin=" + QByteArray(300, '1') + "\nMax=1\n"
                              << 3 << QStringList {"", "", "1"} << 0 << 100000
                              << QStringLiteral("Settings.ini 中 3_Data/Min 的值过长（超过 256 "
                                                "个字符），未填入");
    QTest::newRow("unreadable") << QByteArray("dir") << 1 << QStringList {"", "", ""} << 0 << 20000
                                << QStringLiteral("无法读取 Settings.ini，通道未预填");
}

void WindowTest::settingsFile()
{
    QFETCH(QByteArray, file);
    QFETCH(int, channel);
    QFETCH(QStringList, fields);
    QFETCH(int, minimum);
    QFETCH(int, maximum);
    QFETCH(QString, status);
    QTemporaryDir folder;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(folder.path());
    QFile settings(folder.filePath(QStringLiteral("Settings.ini")));
    if (file == "dir")
        QVERIFY(QDir().mkdir(settings.fileName()));
    else
        QVERIFY(settings.open(QIODevice::WriteOnly) && settings.write(file) == file.size());
    settings.close();
    messages.clear();
    const QtMessageHandler handler = qInstallMessageHandler(collect);
    MainWindow loaded;
    qInstallMessageHandler(handler);
    QDir::setCurrent(previous);

    QCOMPARE(messages.mid(0, 2),
             (QStringList {QStringLiteral("0 current applicationDirPath:  \"%1\"")
                               .arg(QCoreApplication::applicationDirPath()),
                           QStringLiteral("0 current currentPath:  \"%1\"").arg(folder.path())}));
    QCOMPARE(messages.size(), status.isEmpty() ? 2 : 3); // the warning says what went wrong
    const pidtune::ChannelWidgets row = testwindow::channel(loaded, channel);
    QCOMPARE((QStringList {row.identifier->toPlainText(), row.min->toPlainText(),
                           row.max->toPlainText()}),
             fields);
    QCOMPARE(qMakePair(row.slider->minimum(), row.slider->maximum()), qMakePair(minimum, maximum));
    QCOMPARE(testwindow::status(loaded), status);
    if (file != "dir") { // read, never written
        QVERIFY(settings.open(QIODevice::ReadOnly));
        QCOMPARE(settings.readAll(), file);
    }
}

void WindowTest::stopSignalClosesThePortCleanly()
{
    window.reset();
    termios before {}, open {}, after {};
    QVERIFY(device->lineSettings(&before));
    {
        MainWindow stopped;
        pidtune::StopSignals stopSignals;
        connect(&stopSignals, &pidtune::StopSignals::stopRequested, &stopped, &QWidget::close);
        stopped.show();
        openPort(stopped, device->slavePath());
        QVERIFY(device->lineSettings(&open));
        QCOMPARE(cfgetospeed(&open), speed_t(B115200));
        QCOMPARE(open.c_lflag & ICANON, tcflag_t(0));
        std::raise(SIGTERM);
        QTRY_VERIFY(!stopped.isVisible());
    }
    QVERIFY(device->lineSettings(&after));
    QCOMPARE(after.c_lflag, before.c_lflag);
    QVERIFY(QSerialPort(device->slavePath()).open(QIODevice::ReadWrite)); // no lock left
}

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
