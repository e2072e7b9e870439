// SPDX-License-Identifier: MIT
// pidtune-scope: the scope's lines saved as CSV and replayed at their pace, a spreadsheet's column
// names.
#include "csvsource.h"
#include "scopelines.h"
#include "telemetry.h"

#include <QtTest>

using namespace pidtune::scope;

class ScopeCsvTest : public QObject
{
    Q_OBJECT

private slots:
    void savesAndReplaysCsv();
};

void ScopeCsvTest::savesAndReplaysCsv()
{
    Telemetry recorded({"t", 1e-3, "sp", "y"});
    recorded.feed("t=0 a=1.5 b=-2\nt=10 b=nan\nt=20 a=-inf c=1e-7\n");
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("scope.csv"));
    QString error;
    QVERIFY2(writeCsv(recorded.buffer(), path, &error), qPrintable(error));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("time,a,b,c\n0,1.5,-2,\n0.01,,nan,\n0.02,-inf,,1e-07\n"));

    // The lines the file replays to its end, as the scope's window would get them.
    const auto replay = [&] {
        Telemetry replayed({});
        QByteArray timeColumn;
        const std::unique_ptr<CsvSource> source = CsvSource::open(path, &timeColumn, &error);
        if (!source)
            return error;
        replayed.setTimeField(timeColumn, 1);
        connect(source.get(), &Source::received, &replayed, &Telemetry::feed);
        QSignalSpy ended(source.get(), &Source::ended);
        return ended.wait() ? render(replayed, true) : QStringLiteral("never ended");
    };
    QElapsedTimer replaying;
    replaying.start();
    QCOMPARE(replay(), render(recorded, true));
    QVERIFY(replaying.elapsed()
            >= 15); // at the pace recorded: 20 ms from the first row to the last

    // A spreadsheet's header: each name stays one label of the lines replayed.
    file.close();
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("s,speed (rpm),Kp=5,y:1\n0.5,1,2,3\n");
    file.close();
    QCOMPARE(replay(), QStringLiteral("0.5: speed_(rpm)=1 Kp_5=2 y_1=3"));
}

QTEST_MAIN(ScopeCsvTest)
#include "tst_scope_csv.moc"
