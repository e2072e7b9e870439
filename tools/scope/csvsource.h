// SPDX-License-Identifier: MIT
#pragma once

#include "source.h"

#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QTimer>

namespace pidtune::scope {

// A CSV file replayed at its own pace. The first row names the columns; the first column is each
// row's time in seconds, which paces the replay. The rows come as telemetry lines; the cells of a
// "pidtune_parameter" column, as the scope saves them, come as the parameter changes they were.
class CsvSource : public Source
{
    Q_OBJECT

public:
    // *timeColumn receives the time column's name.
    static std::unique_ptr<CsvSource> open(const QString &path, QByteArray *timeColumn,
                                           QString *error);

private:
    CsvSource() = default;
    void replay();

    QFile csv;
    QList<QByteArray> columns;
    int parameterColumn = -1; // the saved parameter changes' ("pidtune_parameter"), if any
    quint64 rowNumber = 2; // of the row read ahead, the header the first
    bool unreadableSaid = false;
    QByteArray row; // the next row, read ahead
    bool paced = false; // a row's time was read: the clock runs from it
    double firstRowTime = 0;
    QElapsedTimer replayClock;
    QTimer replayTimer;
};

} // namespace pidtune::scope
