// SPDX-License-Identifier: MIT
// pidtune-scope: the scope's command line.
#include "scopeoptions.h"

#include <QtTest>

using namespace pidtune::scope;

class ScopeOptionsTest : public QObject
{
    Q_OBJECT

private slots:
    void readsItsCommandLine_data();
    void readsItsCommandLine();

private:
    QTemporaryDir folder;
};

void ScopeOptionsTest::readsItsCommandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    // What the scope starts with (source, baud rate, seconds per time unit, window, redraws a
    // second, Y range);
    // empty: refused.
    QTest::addColumn<QString>("options");
    QTest::newRow("defaults") << QStringList {"-"} << "- 115200 0.001 10 50/s auto";
    QTest::newRow("ms") << QStringList {"--time-unit", "ms", "--window=2.5", "-"}
                        << "- 115200 0.001 2.5 50/s auto";
    QTest::newRow("us, fixed") << QStringList {"--time-unit=us", "--y-range=-1:2.5", "x.CSV"}
                               << "x.CSV csv 115200 1e-06 10 50/s -1:2.5";
    QTest::newRow("relay at 9600") << QStringList {"--baud", "9600", "--relay", "/dev/ttyACM0"}
                                   << "/dev/ttyACM0 9600 0.001 10 50/s auto";
    QTest::newRow("empty range") << QStringList {"--y-range=2:2", "-"} << "";
    QTest::newRow("a small range")
        << QStringList {"--y-range=0:0.0002", "-"} << "- 115200 0.001 10 50/s 0:0.0002";
    QTest::newRow("a range beyond the boxes") << QStringList {"--y-range=1e300:2e300", "-"} << "";
    QTest::newRow("no window") << QStringList {"--window=0", "-"} << "";
    QTest::newRow("fractional baud") << QStringList {"--baud=9600.5", "-"} << "";
    QTest::newRow("30 redraws") << QStringList {"--max-redraws", "30", "-"}
                                << "- 115200 0.001 10 30/s auto";
    QTest::newRow("no redraws") << QStringList {"--max-redraws=0", "-"} << "";
    QTest::newRow("fractional redraws") << QStringList {"--max-redraws=2.5", "-"} << "";
    QTest::newRow("more redraws than a screen shows")
        << QStringList {"--max-redraws=121", "-"} << "";

    // The parameters' names: Settings.ini's Name keys by their channel's identifier, then
    // --names, each made one label of a step line.
    const QString ini = folder.filePath(QStringLiteral("Settings.ini"));
    QFile file(ini);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("\xEF\xBB\xBF; pidtune\n[1_Data]\nType_Flag=1\nName=\xE6\xAF\x94\xE4\xBE\x8B Kp\n"
               "[2_Data]\nName=\"Ki\"\r\nType_Flag = 2\r\n[3_Data]\nName=no identifier\n"
               "[7_Data]\nType_Flag=9\nName=not a channel\n");
    file.close();
    const QString utf16 = folder.filePath(QStringLiteral("utf16.ini"));
    file.setFileName(utf16);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray("\xFF\xFE[\0", 4)) == 4);
    file.close();
    QTest::newRow("names") << QStringList {"--names", "1=Kp,3=K d:x", "-"}
                           << "- 115200 0.001 10 50/s auto 1=Kp 3=K_d_x";
    QTest::newRow("settings' names, then --names")
        << QStringList {"--settings", ini, "--names=2=I", "-"}
        << QString::fromUtf8("- 115200 0.001 10 50/s auto 1=\xE6\xAF\x94\xE4\xBE\x8B_Kp 2=I");
    QTest::newRow("a name without its identifier") << QStringList {"--names=Kp", "-"} << "";
    QTest::newRow("identifier 256") << QStringList {"--names=256=x", "-"} << "";
    QTest::newRow("no name") << QStringList {"--names=1= ", "-"} << "";
    QTest::newRow("no settings file") << QStringList {"--settings", ini + "x", "-"} << "";
    QTest::newRow("settings in UTF-16") << QStringList {"--settings", utf16, "-"} << "";
}

void ScopeOptionsTest::readsItsCommandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, options);
    QByteArrayList texts {"pidtune-scope"};
    for (const QString &argument : arguments)
        texts << argument.toLocal8Bit();
    std::vector<char *> argv;
    for (QByteArray &text : texts)
        argv.push_back(text.data());
    ScopeOptions read;
    const std::optional<int> status = readCommandLine(int(argv.size()), argv.data(), &read);
    QCOMPARE(status, options.isEmpty() ? std::optional<int>(2) : std::nullopt);
    if (status)
        return;
    QStringList names;
    for (auto name = read.parameterNames.cbegin(); name != read.parameterNames.cend(); ++name)
        names << QStringLiteral(" %1=%2").arg(name.key()).arg(name.value());
    QCOMPARE(QStringLiteral("%1%2 %3 %4 %5 %6/s %7")
                     .arg(read.source.isEmpty() ? read.relayPort : read.source,
                          read.isCsv() ? " csv" : "")
                     .arg(read.baudRate)
                     .arg(read.telemetry.secondsPerUnit)
                     .arg(read.windowSeconds)
                     .arg(read.maxRedrawsPerSecond)
                     .arg(read.fixedRange
                              ? QStringLiteral("%1:%2").arg(read.rangeLow).arg(read.rangeHigh)
                              : "auto")
                 + names.join(QString()),
             options);
}

QTEST_MAIN(ScopeOptionsTest)
#include "tst_scope_options.moc"
