// SPDX-License-Identifier: MIT
// The whole window, driven as an operator drives it, with the test playing the device on a
// pseudo-terminal: what the window shows and what the device gets.
#include "app/mainwindow.h"
#include "pseudoterminal.h"
#include "serial/stopsignals.h"
#include "testsystem.h"
#include "testwindow.h"

#include <QtTest>
#include <QtWidgets>

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

struct Settings
{
    QByteArray file; // "dir": a folder stands where the file should be
    int channel;
    QStringList fields; // identifier, Min, Max
    int minimum, maximum;
    QString status;
};

} // namespace

Q_DECLARE_METATYPE(Settings)

class WindowTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { window.reset(); }
    void formAndSlotTable();
    void everyChannelReachesTheDevice();
    void theButtonAndStatusBarFollowTheConnection();
    void settingsFile_data();
    void settingsFile();
    void stoppingClosesThePortCleanly_data();
    void stoppingClosesThePortCleanly();

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
    const QString longName
        = QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10KZ3Y1-if00");
    const QString extra = device->slavePath() + QDir::listSeparator() + longName
        + QDir::listSeparator() + device->slavePath();
    qputenv("PIDTUNE_EXTRA_PORTS", extra.toLocal8Bit());
    messages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(collect);
    MainWindow fresh; // connecting by name warns of any slot without its widget and signal
    qInstallMessageHandler(previous);
    qunsetenv("PIDTUNE_EXTRA_PORTS");
    QCOMPARE(messages.filter(QRegularExpression(QStringLiteral("^[^0] "))), QStringList());
    const auto *ports = widget<QComboBox>(fresh, QStringLiteral("Port_Number_comboBox"));
    QCOMPARE(ports->itemText(ports->count() - 1), longName); // after the system's, only once
    QCOMPARE(ports->itemText(ports->count() - 2), device->slavePath());
    QCOMPARE(ports->findText(device->slavePath()), ports->count() - 2);
    // The closed box keeps its width; the open list shows the longest name whole, also in a
    // style whose list is no wider than the box by itself.
    fresh.show();
    auto *list = const_cast<QComboBox *>(ports);
    const std::unique_ptr<QStyle> narrow(QStyleFactory::create(QStringLiteral("Windows")));
    list->setStyle(narrow.get());
    list->showPopup();
    QVERIFY(list->view()->viewport()->width() > list->fontMetrics().horizontalAdvance(longName));
    list->hidePopup();
    QCOMPARE(ports->width(), 81);

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

void WindowTest::everyChannelReachesTheDevice()
{
    // Each channel through its own slots: the boxes set the range, the release sends.
    for (int n = 1; n <= 6; ++n) {
        setUpChannel(*window, n, QString::number(10 + n), QStringLiteral("-2"),
                     QStringLiteral("2"));
        const pidtune::ChannelWidgets row = channel(*window, n);
        row.min->setPlainText(QStringLiteral("-1")); // the Min box's own slot, after the Max's
        QCOMPARE(qMakePair(row.slider->minimum(), row.slider->maximum()),
                 qMakePair(-100000, 200000));
        row.slider->setValue(n * 10000);
        pressAndRelease(row.slider);
        QCOMPARE(row.value->text(), QStringLiteral("       0.%1").arg(n));
        const QByteArray frame = frameBytes(10 + n, n / 10.0f);
        QCOMPARE(status(*window), sent(frame));
        QTRY_COMPARE(device->received(), frame);
        device->takeReceived();
    }
    // What the panel refuses, the status bar says.
    channel(*window, 1).identifier->setPlainText(QStringLiteral("256"));
    pressAndRelease(channel(*window, 1).slider);
    QCOMPARE(status(*window), QStringLiteral("标识符无效（应为 0-255 的整数），参数未发送"));
    // What the device answers is drained.
    if (const QString why = unseenHere(Unseen::DeviceDrained); !why.isEmpty())
        QSKIP(qPrintable(why));
    device->send(QByteArray(1 << 16, '\x5A'));
    QTRY_COMPARE(device->pendingToSend(), qint64(0));
    QTRY_COMPARE(window->connection()->bytesAvailable(), qint64(0));
    QVERIFY(device->received().isEmpty());
}

void WindowTest::theButtonAndStatusBarFollowTheConnection()
{
    QCOMPARE(buttonCaption(*window), QStringLiteral("关闭串口"));
    pressOpenButton(*window);
    QCOMPARE(buttonCaption(*window), QStringLiteral("打开串口"));
    QVERIFY(!window->connection());
    setUpChannel(*window, 2, QStringLiteral("2"), QStringLiteral("0"), QStringLiteral("1"));
    pressAndRelease(channel(*window, 2).slider);
    QCOMPARE(status(*window), QStringLiteral("串口未打开，参数未发送"));

    openPort(*window, QStringLiteral("/dev/pidtune-no-such-port"));
    QCOMPARE(buttonCaption(*window), QStringLiteral("打开串口"));
    QVERIFY2(status(*window).startsWith(QStringLiteral("无法打开串口 /dev/pidtune-no-such-port：")),
             qPrintable(status(*window)));

    PseudoTerminal lost;
    openPort(*window, lost.slavePath());
    QCOMPARE(buttonCaption(*window), QStringLiteral("关闭串口"));
    QCOMPARE(status(*window), QString());
    lost.unplug();
    // Where the port is not told while idle, the next release finds the line gone.
    if (const QString why = unseenHere(Unseen::HangUp); !why.isEmpty()) {
        qInfo("%s", qPrintable(why));
        pressAndRelease(channel(*window, 2).slider);
    }
    QTRY_COMPARE(buttonCaption(*window), QStringLiteral("打开串口"));
    QVERIFY2(status(*window).startsWith(QStringLiteral("串口已断开：")),
             qPrintable(status(*window)));
    QVERIFY(!window->connection());
}

void WindowTest::settingsFile_data()
{
    QTest::addColumn<Settings>("settings");
    // Name is the scope's key: the window leaves it, as every key it does not know.
    const QByteArray two = "[1_Data]\nType_Flag=1\nName=Kp\nMin=-1\nMax=0.2\n[2_Data]\nName="
                           "\xE7\xA7\xAF\xE5\x88\x86 Ki\nType_Flag=7\n";
    const QByteArray utf16
        = QByteArray::fromRawData(reinterpret_cast<const char *>(u"[1_Data]\nMin=1\n"), 30);
    const QString notText = QStringLiteral("Settings.ini 不是 UTF-8 或 ANSI 文本，未读取");
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
    QTest::newRow("UTF-16") << Settings {QByteArray("\xFF\xFE") + utf16, 1, {"", "", ""}, 0, 20000, notText};
    QTest::newRow("UTF-16 without BOM") << Settings {utf16, 1, {"", "", ""}, 0, 20000, notText};
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

void WindowTest::stoppingClosesThePortCleanly_data()
{
    QTest::addColumn<bool>("sessionEnding");
    QTest::newRow("stop signal, Ctrl-C on Windows") << false;
    // Logging off or shutting down: Qt says the application is about to quit, and the process
    // ends there.
    QTest::newRow("session ending") << true;
}

void WindowTest::stoppingClosesThePortCleanly()
{
    QFETCH(bool, sessionEnding);
    window.reset();
    LineSettings before, open, after;
    QVERIFY(device->lineSettings(&before));
    {
        MainWindow stopped;
        pidtune::StopSignals stopSignals;
        connect(&stopSignals, &pidtune::StopSignals::stopRequested, &stopped, &QWidget::close);
        stopped.show();
        openPort(stopped, device->slavePath());
        QVERIFY(device->lineSettings(&open)); // the window's own opening sets the line up
        QVERIFY(open.isRaw8N1(115200));
        if (sessionEnding) {
            QVERIFY(QMetaObject::invokeMethod(QCoreApplication::instance(), "aboutToQuit"));
            QVERIFY(!stopped.connection()); // before anything is destroyed
        } else {
            if (const QString why = unseenHere(Unseen::ConsoleEvents); !why.isEmpty())
                QSKIP(qPrintable(why));
            requestStop();
            QTRY_VERIFY(!stopped.isVisible());
        }
    }
    QVERIFY(device->lineSettings(&after));
    if (unseenHere(Unseen::TerminalRestored).isEmpty())
        QCOMPARE(after.localFlags, before.localFlags);
    QVERIFY(QSerialPort(device->slavePath()).open(QIODevice::ReadWrite)); // no lock left behind
}

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
