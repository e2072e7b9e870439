// SPDX-License-Identifier: MIT
#include "app/mainwindow.h"
#include "testwindow.h"

#include <QtTest>
#include <QtWidgets>

using namespace testwindow;

namespace {

QStringList debugLines;
void collectDebug(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtDebugMsg)
        debugLines << message;
}

// Runs a test body with the process's working directory set to a fresh temporary folder.
class WorkingDirectory
{
public:
    WorkingDirectory() : previous(QDir::currentPath()) { QDir::setCurrent(folder.path()); }
    ~WorkingDirectory() { QDir::setCurrent(previous); }
    QString filePath(const QString &name) const { return folder.filePath(name); }

private:
    QTemporaryDir folder;
    QString previous;
};

struct Fields
{
    QString identifier, min, max;
    int minimum, maximum;
};

} // namespace

Q_DECLARE_METATYPE(Fields)

class StartupSettingsTest : public QObject
{
    Q_OBJECT

private slots:
    void debugLinesNameBothDirectories();
    void fieldsFromSettingsFile_data();
    void fieldsFromSettingsFile();
};

void StartupSettingsTest::debugLinesNameBothDirectories()
{
    WorkingDirectory cwd;
    debugLines.clear();
    const QtMessageHandler previous = qInstallMessageHandler(collectDebug);
    {
        MainWindow window;
    }
    qInstallMessageHandler(previous);
    QCOMPARE(
        debugLines,
        (QStringList {QStringLiteral("current applicationDirPath:  \"%1\"")
                          .arg(QCoreApplication::applicationDirPath()),
                      QStringLiteral("current currentPath:  \"%1\"").arg(QDir::currentPath())}));
}

void StartupSettingsTest::fieldsFromSettingsFile_data()
{
    QTest::addColumn<QByteArray>("file"); // empty: no file at all
    QTest::addColumn<int>("channel");
    QTest::addColumn<Fields>("expected");

    const Fields untouched {{}, {}, {}, 0, 20000};
    QTest::newRow("no file") << QByteArray() << 1 << untouched;
    QTest::newRow("complete channel")
        << QByteArray("[1_Data]\nType_Flag=1\nMin=0\nMax=0.2\n\n[2_Data]\nType_Flag=7\n") << 1
        << Fields {"1", "0", "0.2", 0, 20000};
    QTest::newRow("identifier only")
        << QByteArray("[1_Data]\nType_Flag=1\nMin=0\nMax=0.2\n\n[2_Data]\nType_Flag=7\n") << 2
        << Fields {"7", {}, {}, 0, 20000};
    QTest::newRow("only 2_Data/Max")
        << QByteArray("[2_Data]\nMax=1\n") << 2 << Fields {{}, {}, "1", 0, 100000};
    QTest::newRow("only 2_Data/Max, other channel")
        << QByteArray("[2_Data]\nMax=1\n") << 3 << untouched;
    QTest::newRow("Min above Max")
        << QByteArray("[4_Data]\nMin=5\nMax=1\n") << 4 << Fields {{}, "5", "1", 100000, 100000};
    QTest::newRow("negative range") << QByteArray("[5_Data]\nMin=-1.5\nMax=-0.5\n") << 5
                                    << Fields {{}, "-1.5", "-0.5", -150000, -50000};
    QTest::newRow("decimal comma")
        << QByteArray("[6_Data]\nMin=1,5\nMax=2\n") << 6 << Fields {{}, {}, "2", 0, 200000};
    QTest::newRow("other keys ignored")
        << QByteArray("[7_Data]\nMin=3\n[1_Data]\nFoo=3\nmin=4\n[General]\nMax=9\n") << 1
        << untouched;
    QTest::newRow("markup shown literally")
        << QByteArray("[3_Data]\nType_Flag=<b>7</b>\nMin=\"<img src=\\\"x.png\\\">\"\n") << 3
        << Fields {"<b>7</b>", "<img src=\"x.png\">", {}, 0, 20000};
    QTest::newRow("saturating bound") << QByteArray("[6_Data]\nMax=1e9\n") << 6
                                      << Fields {{}, {}, "1e9", 0, std::numeric_limits<int>::max()};
}

void StartupSettingsTest::fieldsFromSettingsFile()
{
    QFETCH(QByteArray, file);
    QFETCH(int, channel);
    QFETCH(Fields, expected);

    WorkingDirectory cwd;
    const QString path = cwd.filePath(QStringLiteral("Settings.ini"));
    if (!file.isEmpty()) {
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(file);
    }
    {
        MainWindow window;
        const pidtune::ChannelWidgets row = testwindow::channel(window, channel);
        QCOMPARE(row.identifier->toPlainText(), expected.identifier);
        QCOMPARE(row.min->toPlainText(), expected.min);
        QCOMPARE(row.max->toPlainText(), expected.max);
        QCOMPARE(row.slider->minimum(), expected.minimum);
        QCOMPARE(row.slider->maximum(), expected.maximum);
        QCOMPARE(row.slider->value(), qBound(expected.minimum, 0, expected.maximum));
        QVERIFY(row.value->text().isEmpty());
        QVERIFY(!row.enable->isChecked());
    }
    // Read, never written: the file is byte for byte as it was, and none appears.
    QFile in(path);
    if (file.isEmpty()) {
        QVERIFY(!in.exists());
    } else {
        QVERIFY(in.open(QIODevice::ReadOnly));
        QCOMPARE(in.readAll(), file);
    }
}

QTEST_MAIN(StartupSettingsTest)
#include "tst_startupsettings.moc"
