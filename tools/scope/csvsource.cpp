// SPDX-License-Identifier: MIT
#include "csvsource.h"

#include "parameterlog.h"
#include "telemetryline.h"

#include <QFileInfo>

#include <utility>

namespace pidtune::scope {

namespace {

// A CSV row's time, its first cell.
bool rowTime(const QByteArray &row, double *time)
{
    const qsizetype comma = row.indexOf(',');
    const QByteArray cell = row.left(comma < 0 ? row.size() : comma).trimmed();
    return readNumber(cell.constData(), cell.constData() + cell.size(), time);
}

// A row whole, however long, with its line end; empty at the end of the file. Past 1 MiB the rest
// of the row is passed over: the line it gives is far longer than a telemetry line may be, so
// the scope counts it as skipped rather than reading it as several rows.
QByteArray readRow(QFile &file)
{
    QByteArray row;
    while (!row.endsWith('\n')) {
        const QByteArray part = file.readLine(kMaxLineLength);
        if (part.isEmpty())
            break;
        if (row.size() < (1 << 20))
            row += part;
        else if (part.endsWith('\n'))
            row += '\n';
    }
    return row;
}

} // namespace

std::unique_ptr<CsvSource> CsvSource::open(const QString &path, QByteArray *timeColumn,
                                           QString *error)
{
    // A FIFO or a device would hold the window until a writer comes; a recording is a file.
    if (QFileInfo(path).exists() && !QFileInfo(path).isFile()) {
        *error = QStringLiteral("not a regular file; pipe a live stream into - instead");
        return nullptr;
    }
    std::unique_ptr<CsvSource> source(new CsvSource);
    QFile &file = source->csv;
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return nullptr;
    }
    const QByteArray header = readRow(file).trimmed();
    if (header.isEmpty()) {
        *error = QStringLiteral("no header row naming the columns");
        return nullptr;
    }
    for (const QByteArray &cell : header.split(',')) {
        // A name must stay one label in a telemetry line, and one of its own: a column named
        // like the time column, or like another, would take its values.
        QByteArray name = cell.trimmed();
        for (char &c : name) {
            if (c == ' ' || c == '\t' || c == ':' || c == '=')
                c = '_';
        }
        const QByteArray given = name;
        for (int copy = 2; source->columns.contains(name); ++copy)
            name = given + '_' + QByteArray::number(copy);
        source->columns.append(name);
    }
    *timeColumn = source->columns.first();
    source->parameterColumn = int(source->columns.indexOf(QByteArrayLiteral("pidtune_parameter")));
    if (source->parameterColumn == 0)
        source->parameterColumn = -1; // the time column, however named
    source->row = readRow(file);
    connect(&source->replayTimer, &QTimer::timeout, source.get(), &CsvSource::replay);
    source->replayClock.start();
    source->replayTimer.start(10);
    return source;
}

void CsvSource::replay()
{
    QByteArray lines;
    // The rows that are due, but a bounded amount each time, so the window stays responsive.
    while (!row.isEmpty() && lines.size() < (1 << 20)) {
        // Paced from the first row that has a time, so that a log stamped with the device's
        // uptime starts at once; a row whose time cannot be read goes at once.
        const QList<QByteArray> cells = row.trimmed().split(',');
        const QByteArray change = parameterColumn >= 0 && parameterColumn < cells.size()
            ? cells[parameterColumn].trimmed()
            : QByteArray();
        double time = 0;
        const bool timed = rowTime(row, &time);
        // A change alone does not start the clock: those older than the lines come first.
        bool line = false;
        for (int i = 1; i < cells.size() && !line; ++i)
            line = i != parameterColumn && !cells[i].trimmed().isEmpty();
        if (timed && !paced && !line && !change.isEmpty()) {
            // Due at once.
        } else if (timed) {
            if (!paced) {
                paced = true;
                firstRowTime = time;
                replayClock.start();
            }
            if (time - firstRowTime > double(replayClock.elapsed()) / 1000)
                break;
        }
        if (!change.isEmpty()) {
            ParameterChange recorded;
            QString name;
            if (readChangeText(change, &recorded, &name)) {
                // In its place among the lines: those before it go first.
                if (!lines.isEmpty())
                    emit received(std::exchange(lines, QByteArray()));
                recorded.time = timed ? time : ParameterChange::kNone;
                emit parameterRecorded(recorded, name);
            } else if (!std::exchange(unreadableSaid, true)) {
                emit lost(QStringLiteral("row %1 of %2: a parameter change that cannot be read "
                                         "was passed over: %3")
                              .arg(rowNumber)
                              .arg(csv.fileName(), QString::fromUtf8(change.left(80))));
            }
        }
        if (line || change.isEmpty()) {
            for (int i = 0; i < cells.size() && i < columns.size(); ++i) {
                if (i != parameterColumn && !cells[i].trimmed().isEmpty())
                    lines += columns[i] + '=' + cells[i].trimmed() + ' ';
            }
            lines += '\n';
        }
        row = readRow(csv);
        ++rowNumber;
    }
    if (!lines.isEmpty())
        emit received(lines);
    if (row.isEmpty()) {
        replayTimer.stop();
        emit ended(csv.atEnd() ? QStringLiteral("end of %1").arg(csv.fileName())
                               : QStringLiteral("%1: %2").arg(csv.fileName(), csv.errorString()));
    }
}

} // namespace pidtune::scope
