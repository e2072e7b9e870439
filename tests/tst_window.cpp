// SPDX-License-Identifier: MIT
// The whole window, driven as an operator drives it, with the test playing the device on a
// pseudo-terminal: what the window shows and what the device gets.
#include "app/mainwindow.h"
#include "pseudoterminal.h"
#include "serial/stopsignals.h"
#include "testwindow.h"

#include <QtTest>
#include <QtWidgets>

#include <csignal>
#include <termios.h>

using namespace testwindow;

namespace {

QString sent(const QByteArray &frame)
{
    return QStringLiteral("已发送：") + QString::fromLatin1(frame.toHex(' ').toUpper());
}

QStringList messages; // "<type> <text>" of everything logged while collecting
void collect(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    messages << QString::number(type) + QLatin1Char(' ') + message;
}

struct Release
{
    int channel;
    QString identifier;
    int position;
    QString label, frame;
};

struct Refusal
{
    int channel;
    QString identifier, max;
    bool enabled;
    enum { Open, Closed, Refusing } port;
    QString label, status;
};

struct Range
{
    int channel;
    QString min, max, edit; // edit: keys typed at the end of the box it names, \b a Backspace
    int minimum, maximum;
};

struct Settings
{
    QByteArray file; // "dir": a folder stands where the file should be
    int channel;
    QStringList fields; // identifier, Min, Max
    int minimum, maximum;
    QString status;
};

} // namespace

Q_DECLARE_METATYPE(Release)
Q_DECLARE_METATYPE(Refusal)
Q_DECLARE_METATYPE(Range)
Q_DECLARE_METATYPE(Settings)

class WindowTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { window.reset(); }
    void formAndSlotTable();
    void releaseSendsTheShownValue_data();
    void releaseSendsTheShownValue();
    void releaseSendsNothing_data();
    void releaseSendsNothing();
    void rangeFollowsBothBoxes_data();
    void rangeFollowsBothBoxes();
    void boxesHoldOneShortLineOfPlainText();
    void answersAreDrained();
    void deviceNotReading();
    void lostLine_data();
    void lostLine();
    void aReleasedPortNeverReachesTheWindow();
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

void WindowTest::formAndSlotTable()
{
    const QString extra = device->slavePath() + QDir::listSeparator() + device->slavePath();
    qputenv("PIDTUNE_EXTRA_PORTS", extra.toLocal8Bit());
    messages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(collect);
    MainWindow fresh; // connecting by name warns of any slot without its widget and signal
    qInstallMessageHandler(previous);
    qunsetenv("PIDTUNE_EXTRA_PORTS");
    QCOMPARE(messages.filter(QRegularExpression(QStringLiteral("^[^0] "))), QStringList());
    const auto *ports = widget<QComboBox>(fresh, QStringLiteral("Port_Number_comboBox"));
    QCOMPARE(ports->itemText(ports->count() - 1), device->slavePath()); // last, and only once
    QCOMPARE(ports->findText(device->slavePath()), ports->count() - 1);

    QCOMPARE(fresh.windowTitle(), QStringLiteral("PID控制"));
    QVERIFY(!(fresh.windowFlags() & Qt::WindowMaximizeButtonHint));
    QCOMPARE(fresh.minimumSize(), QSize(877, 393));
    QCOMPARE(fresh.maximumSize(), QSize(877, 393));
    QCOMPARE(widget<QLabel>(fresh, QStringLiteral("label"))->text(), QStringLiteral("串口号:"));
    QCOMPARE(buttonCaption(fresh), QStringLiteral("打开串口"));
    for (int n = 1; n <= 6; ++n) {
        const pidtune::ChannelWidgets row = channel(fresh, n);
        QCOMPARE(row.enable->text(), QStringLiteral("使能"));
        QCOMPARE(qMakePair(row.slider->minimum(), row.slider->maximum()), qMakePair(0, 20000));
        // The captions are numbered in creation order, not by channel.
        const int id = n == 1 ? 2 : 3 * n, max = n == 1 ? 4 : 3 * n - 1;
        const std::tuple<int, const char *, QTextEdit *> captions[]
            = {{id, "标识符:", row.identifier}, {id + 1, "Min:", row.min}, {max, "Max:", row.max}};
        for (const auto &[number, text, field] : captions) {
            const auto *caption = widget<QLabel>(fresh, QStringLiteral("label_%1").arg(number));
            QCOMPARE(caption->text(), QString::fromUtf8(text));
            QCOMPARE(caption->y(), row.slider->y());
            // Each box right after its own caption.
            QVERIFY(field->x() > caption->x() && field->x() < caption->x() + 60);
        }
    }
    // The method indices other programs rely on; a misspelt slot name would have warned above.
    const QMetaObject &meta = MainWindow::staticMetaObject;
    QString table;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i)
        table += QString::fromLatin1(meta.method(i).methodSignature()) + QLatin1Char(' ');
    table.replace(QRegularExpression(QStringLiteral("on_data_(\\d)_(Min|Max|value)_[^ ]* ")),
                  QStringLiteral("\\1\\2 "));
    QCOMPARE(table,
             QStringLiteral("on_openButton_clicked() Read_Data() 1Min 1Max 1value 2Min 2Max "
                            "2value 3Min 3value 3Max 4Min 5Min 6Min 4value 5value 6value "
                            "5Max 4Max 6Max "));
}

void WindowTest::releaseSendsTheShownValue_data()
{
    QTest::addColumn<Release>("release");
    const int intMin = std::numeric_limits<int>::min();
    // clang-format off
    QTest::newRow("1.5") << Release {1, "3", 150000, "       1.5", "05FA0603040000C03F"};
    QTest::newRow("0.69999") << Release {2, "44", 69999, "   0.69999", "05FA062C048B32333F"};
    QTest::newRow("12.3457") << Release {3, "255", 1234567, "   12.3457", "05FA06FF04FD874541"};
    QTest::newRow("-1.5") << Release {4, "0", -150000, "      -1.5", "05FA0600040000C0BF"};
    QTest::newRow("0") << Release {5, "7\n", 0, "         0", "05FA06070400000000"};
    QTest::newRow("1e-05") << Release {6, " 1", 1, "     1e-05", "05FA060104ACC52737"};
    QTest::newRow("INT_MIN") << Release {1, "1", intMin, "  -21474.8", "05FA0601049AC5A7C6"};
    // clang-format on
}

void WindowTest::releaseSendsTheShownValue()
{
    QFETCH(Release, release);
    setUpChannel(*window, release.channel, release.identifier, "-30000", "30000");
    const pidtune::ChannelWidgets row = channel(*window, release.channel);
    row.slider->setValue(release.position); // as the keyboard would: no frame yet
    QCOMPARE(row.slider->value(), release.position);
    QVERIFY(device->received().isEmpty());
    pressAndRelease(row.slider);

    QCOMPARE(row.value->text(), release.label);
    const QByteArray expected = QByteArray::fromHex(release.frame.toLatin1().replace(' ', ""));
    QCOMPARE(status(*window), sent(expected));
    QTRY_COMPARE(device->received(), expected);
    for (int other = 1; other <= 6; ++other)
        QCOMPARE(channel(*window, other).value->text().isEmpty(), other != release.channel);
}

void WindowTest::releaseSendsNothing_data()
{
    QTest::addColumn<Refusal>("refusal");
    const QString half = QStringLiteral("       0.5");
    // clang-format off
    QTest::newRow("not enabled") << Refusal {1, "1", "1", false, Refusal::Open, "", ""};
    QTest::newRow("no identifier") << Refusal {2, "", "1", true, Refusal::Open, "", ""};
    QTest::newRow("identifier 256") << Refusal {3, "256", "1", true, Refusal::Open, half,
                                                "标识符无效（应为 0-255 的整数），参数未发送"};
    QTest::newRow("port closed") << Refusal {4, "4", "1", true, Refusal::Closed, half,
                                             "串口未打开，参数未发送"};
    QTest::newRow("port refusing") << Refusal {4, "4", "1", true, Refusal::Refusing, half, "发送失败："};
    QTest::newRow("Min equals Max") << Refusal {5, "5", "0.5", true, Refusal::Open, "",
                                                "通道 5 的 Min 不小于 Max，滑块无法拖动，参数未发送"};
    // clang-format on
}

void WindowTest::releaseSendsNothing()
{
    QFETCH(Refusal, refusal);
    setUpChannel(*window, refusal.channel, refusal.identifier, "0.5", refusal.max);
    const pidtune::ChannelWidgets row = channel(*window, refusal.channel);
    row.enable->setChecked(refusal.enabled);
    if (refusal.port == Refusal::Closed)
        pressOpenButton(*window);
    if (refusal.port == Refusal::Refusing) { // as after the driver closed it under us
        window->connection()->close();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("not open")));
    }
    pressAndRelease(row.slider);
    QCOMPARE(row.value->text(), refusal.label);
    if (refusal.port == Refusal::Refusing) // the reason follows
        QVERIFY2(status(*window).startsWith(refusal.status), qPrintable(status(*window)));
    else
        QCOMPARE(status(*window), refusal.status);

    // A frame sent afterwards arrives alone: nothing went out before it.
    if (refusal.port == Refusal::Refusing)
        pressOpenButton(*window);
    if (refusal.port != Refusal::Open)
        openPort(*window, device->slavePath());
    setUpChannel(*window, 6, "6", "0", "1");
    pressAndRelease(channel(*window, 6).slider);
    QTRY_COMPARE(device->received(), frameBytes(6, 0));
}

void WindowTest::rangeFollowsBothBoxes_data()
{
    QTest::addColumn<Range>("range");
    // Max 10 becomes 15 by Backspace and 5: the "1" between must not leave Min at 1.
    // clang-format off
    QTest::newRow("max 10 to 15") << Range {1, "5", "10", "max:\b5", 500000, 1500000};
    QTest::newRow("min -10 to -20") << Range {2, "-10", "-5", "min:\b\b\b-20", -2000000, -500000};
    QTest::newRow("min above max") << Range {3, "5", "1", "", 100000, 100000};
    QTest::newRow("max below min") << Range {4, "0", "1", "min:\b5", 100000, 100000};
    QTest::newRow("0.7 and 1e3") << Range {5, "0.7", "1e3", "", 69999, 100000000};
    QTest::newRow("cleared max") << Range {6, "-1", "2", "max:\b", -100000, 0};
    // clang-format on
}

void WindowTest::rangeFollowsBothBoxes()
{
    QFETCH(Range, range);
    setUpChannel(*window, range.channel, "1", range.min, range.max);
    const pidtune::ChannelWidgets row = channel(*window, range.channel);
    QTextEdit *field = range.edit.startsWith(QLatin1String("min")) ? row.min : row.max;
    QTest::keyClick(field, Qt::Key_End);
    for (const QChar key : range.edit.mid(4)) {
        if (key == QLatin1Char('\b'))
            QTest::keyClick(field, Qt::Key_Backspace);
        else
            QTest::keyClicks(field, key);
    }
    QCOMPARE(qMakePair(row.slider->minimum(), row.slider->maximum()),
             qMakePair(range.minimum, range.maximum));
    if (range.minimum == range.maximum)
        return;
    // Neither end of the slider sends a value outside the boxes.
    dragToEnd(row.slider, false);
    dragToEnd(row.slider, true);
    QTRY_COMPARE(device->received(),
                 frameBytes(1, range.minimum / 100000.0f)
                     + frameBytes(1, range.maximum / 100000.0f));
}

void WindowTest::boxesHoldOneShortLineOfPlainText()
{
    const auto fields = window->findChildren<QTextEdit *>();
    QCOMPARE(fields.size(), 18);
    for (QTextEdit *field : fields) {
        // Copied from a web page: the markup and its image must not come along.
        auto *copied = new QMimeData;
        copied->setHtml(QStringLiteral("<b>8</b><img src=\"x.png\">"));
        copied->setText(QStringLiteral("8"));
        QGuiApplication::clipboard()->setMimeData(copied);
        field->clear();
        field->paste();
        QCOMPARE(field->toPlainText(), QStringLiteral("8"));

        // A long number stays on one line instead of wrapping into the next.
        field->setPlainText(QStringLiteral("-12.3456789"));
        field->document()->documentLayout()->documentSize();
        QCOMPARE(field->document()->firstBlock().layout()->lineCount(), 1);

        // A page of digits is cut to what a box keeps, and the operator is told.
        window->statusBar()->clearMessage();
        field->setPlainText(QString(256, QLatin1Char('9')));
        QCOMPARE(status(*window), QString());
        QGuiApplication::clipboard()->setText(QString(50000, QLatin1Char('9')));
        field->paste();
        QCOMPARE(field->toPlainText().size(), 256);
        QCOMPARE(status(*window),
                 QStringLiteral("输入过长：每个框最多 256 个字符，多余部分已删去"));
    }
}

void WindowTest::answersAreDrained()
{
    device->send(QByteArray(1 << 16, '\x5A'));
    QTRY_COMPARE(device->pendingToSend(), qint64(0));
    QTRY_COMPARE(window->connection()->bytesAvailable(), qint64(0));
    QCOMPARE(status(*window), QString());
}

void WindowTest::deviceNotReading()
{
    setUpChannel(*window, 1, "1", "-30000", "30000");
    setUpChannel(*window, 2, "2", "-30000", "30000");
    const pidtune::ChannelWidgets one = channel(*window, 1), two = channel(*window, 2);
    const qint64 filler = device->stopReading();
    const std::tuple<QSlider *, int, const char *> releases[] = {
        {one.slider, 100000, "设备未接收数据：1 帧等待发送"},
        {two.slider, 200000, "设备未接收数据：2 帧等待发送"},
        {two.slider, 300000, "设备未接收数据：2 帧等待发送，1 帧已被同一标识符的新值替换"},
    };
    for (const auto &[slider, position, text] : releases) {
        slider->setValue(position);
        pressAndRelease(slider);
        QCOMPARE(status(*window), QString::fromUtf8(text));
    }
    device->resumeReading();
    QTRY_COMPARE(device->received().size(), filler + 18);
    QCOMPARE(device->takeReceived().mid(int(filler)), frameBytes(1, 1) + frameBytes(2, 3));
    QTRY_COMPARE(status(*window), sent(frameBytes(2, 3)));
    QCOMPARE(buttonCaption(*window), QStringLiteral("关闭串口"));
    pressOpenButton(*window); // nothing waiting: closing says nothing
    QCOMPARE(status(*window), QString());
    openPort(*window, device->slavePath());

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
    PseudoTerminal lost;
    pressOpenButton(*window);
    openPort(*window, lost.slavePath());
    setUpChannel(*window, 1, "1", "0", "1");
    QPointer<QSerialPort> port = window->connection();
    lost.unplug();
    if (releaseAtOnce) { // before the event loop can notice: the write itself finds it gone
        pressAndRelease(channel(*window, 1).slider);
        QCOMPARE(buttonCaption(*window), QStringLiteral("打开串口"));
    }
    QTRY_COMPARE(buttonCaption(*window), QStringLiteral("打开串口"));
    QVERIFY2(status(*window).startsWith(QStringLiteral("串口已断开：")),
             qPrintable(status(*window)));
    QVERIFY(!window->connection());
    QTRY_VERIFY(port.isNull());
    openPort(*window, device->slavePath());
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

void WindowTest::openFailures()
{
    MainWindow other;
    widget<QComboBox>(other, QStringLiteral("Port_Number_comboBox"))->clear();
    const std::pair<QString, QString> attempts[] = {
        {QString(), QStringLiteral("没有可用的串口")},
        {QStringLiteral("/dev/pidtune-no-such-port"),
         QStringLiteral("无法打开串口 /dev/pidtune-no-such-port：")},
        {device->slavePath(), device->slavePath() + QStringLiteral("：串口正被其他程序占用（")},
    };
    for (const auto &[port, text] : attempts) {
        if (port.isEmpty())
            pressOpenButton(other);
        else
            openPort(other, port);
        QCOMPARE(buttonCaption(other), QStringLiteral("打开串口"));
        QVERIFY(!other.connection());
        QVERIFY2(status(other).contains(text), qPrintable(status(other)));
    }
    // Once it opens, the failure is no longer shown.
    window.reset();
    openPort(other, device->slavePath());
    QCOMPARE(status(other), QString());
}

void WindowTest::settingsFile_data()
{
    QTest::addColumn<Settings>("settings");
    const QByteArray two = "[1_Data]\nType_Flag=1\nMin=-1\nMax=0.2\n[2_Data]\nType_Flag=7\n";
    const QByteArray longest(256, '0'), tooLong = "[3_Data]\nMin=" + longest + "1\nMax=1\n";
    // clang-format off
    QTest::newRow("complete") << Settings {two, 1, {"1", "-1", "0.2"}, -100000, 20000, {}};
    QTest::newRow("identifier only") << Settings {two, 2, {"7", "", ""}, 0, 20000, {}};
    QTest::newRow("only 2_Data/Max") << Settings {"[2_Data]\nMax=1\n[7_Data]\nMin=3\n", 2, {"", "", "1"}, 0, 100000, {}};
    QTest::newRow("min above max") << Settings {"[4_Data]\nMin=5\nMax=1\n", 4, {"", "5", "1"}, 100000, 100000, {}};
    QTest::newRow("comma and markup") << Settings {"[6_Data]\nType_Flag=<b>7</b>\nMin=1,5\nMax=2\n", 6,
                                                   {"<b>7</b>", "", "2"}, 0, 200000, {}};
    QTest::newRow("longest") << Settings {"[5_Data]\nMin=" + longest + "\nMax=1\n", 5, {"", QString::fromLatin1(longest), "1"}, 0, 100000, {}};
    QTest::newRow("too long") << Settings {tooLong, 3, {"", "", "1"}, 0, 100000,
                                           "Settings.ini 中 3_Data/Min 的值过长（超过 256 个字符），未填入"};
    QTest::newRow("unreadable") << Settings {"dir", 1, {"", "", ""}, 0, 20000, "无法读取 Settings.ini，通道未预填"};
    // clang-format on
}

void WindowTest::settingsFile()
{
    QFETCH(Settings, settings);
    QTemporaryDir folder;
    QFile file(folder.filePath(QStringLiteral("Settings.ini")));
    if (settings.file == "dir")
        QVERIFY(QDir().mkdir(file.fileName()));
    else
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(settings.file) > 0);
    file.close();
    const QString previous = QDir::currentPath();
    QDir::setCurrent(folder.path());
    messages.clear();
    const QtMessageHandler handler = qInstallMessageHandler(collect);
    MainWindow loaded;
    qInstallMessageHandler(handler);
    QDir::setCurrent(previous);

    QCOMPARE(messages.mid(0, 2),
             (QStringList {"0 current applicationDirPath:  \""
                               + QCoreApplication::applicationDirPath() + '"',
                           "0 current currentPath:  \"" + folder.path() + '"'}));
    QCOMPARE(messages.size(), settings.status.isEmpty() ? 2 : 3); // a warning says what failed
    const pidtune::ChannelWidgets row = channel(loaded, settings.channel);
    QCOMPARE((QStringList {row.identifier->toPlainText(), row.min->toPlainText(),
                           row.max->toPlainText()}),
             settings.fields);
    QCOMPARE(qMakePair(row.slider->minimum(), row.slider->maximum()),
             qMakePair(settings.minimum, settings.maximum));
    QCOMPARE(status(loaded), settings.status);
    QVERIFY(settings.file == "dir"
            || (file.open(QIODevice::ReadOnly) && file.readAll() == settings.file));
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
        QVERIFY(device->lineSettings(&open)); // the window's own opening sets the line up
        QCOMPARE(cfgetospeed(&open), speed_t(B115200));
        QCOMPARE(open.c_lflag & ICANON, tcflag_t(0));
        std::raise(SIGTERM);
        QTRY_VERIFY(!stopped.isVisible());
    }
    QVERIFY(device->lineSettings(&after));
    QCOMPARE(after.c_lflag, before.c_lflag);
    QVERIFY(QSerialPort(device->slavePath()).open(QIODevice::ReadWrite)); // no lock left behind
}

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
