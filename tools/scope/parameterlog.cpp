// SPDX-License-Identifier: MIT
#include "parameterlog.h"

#include "telemetryline.h"

#include <QStringList>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

namespace pidtune::scope {

namespace {

quint32 bitsOf(float value)
{
    quint32 bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// Whether a value the device printed is the float sent: it may have rounded it (the example
// firmware prints 5 decimals, others 6 significant digits).
bool sameValue(double printed, float sent)
{
    if (std::isnan(printed) || std::isnan(sent))
        return std::isnan(printed) && std::isnan(sent);
    if (std::isinf(printed) || std::isinf(sent))
        return printed == double(sent);
    return std::abs(printed - double(sent)) <= 1e-5 * std::max(1.0, std::abs(double(sent)));
}

const QLatin1String kRefused("refused:"), kReportedRefused("reported-refused:");

} // namespace

QString floatText(float value)
{
    char text[32];
    const std::to_chars_result written = std::to_chars(text, text + sizeof text, value);
    return QString::fromLatin1(text, int(written.ptr - text));
}

QString labelName(const QString &name)
{
    QString label = name.trimmed();
    for (QChar &c : label) {
        if (c.isSpace() || c == QLatin1Char(',') || c == QLatin1Char(':') || c == QLatin1Char('='))
            c = QLatin1Char('_');
    }
    return label;
}

QString answerText(const ParameterChange &change)
{
    switch (change.answer) {
    case Answer::None:
        return change.sent ? QStringLiteral("sent") : QStringLiteral("reported");
    case Answer::Applied:
        return change.sent ? QStringLiteral("applied") : QStringLiteral("reported");
    case Answer::Refused:
        return (change.sent ? QString(kRefused) : QString(kReportedRefused))
            + labelName(change.reason);
    case Answer::Missing:
        return QStringLiteral("missing");
    }
    return {};
}

bool readAnswerText(const QString &text, ParameterChange *change)
{
    change->sent = true;
    change->reason.clear();
    if (text == QLatin1String("sent")) {
        change->answer = Answer::None;
    } else if (text == QLatin1String("applied")) {
        change->answer = Answer::Applied;
    } else if (text == QLatin1String("missing")) {
        change->answer = Answer::Missing;
    } else if (text == QLatin1String("reported")) {
        change->answer = Answer::Applied;
        change->sent = false;
    } else if (text.startsWith(kRefused) || text.startsWith(kReportedRefused)) {
        change->answer = Answer::Refused;
        change->sent = text.startsWith(kRefused);
        change->reason = text.mid(change->sent ? kRefused.size() : kReportedRefused.size());
    } else {
        return false;
    }
    return true;
}

QString changeText(const ParameterChange &change, const QString &name)
{
    QString text = QStringLiteral("id=%1").arg(change.id);
    if (!name.isEmpty())
        text += QStringLiteral(" name=") + labelName(name);
    text += QStringLiteral(" value=") + floatText(change.value) + QStringLiteral(" answer=")
        + answerText(change);
    if (std::isfinite(change.answered)) {
        char number[32];
        const std::to_chars_result written
            = std::to_chars(number, number + sizeof number, change.answered);
        text += QStringLiteral(" answered=")
            + QString::fromLatin1(number, int(written.ptr - number));
    }
    return text;
}

bool readChangeText(const QByteArray &text, ParameterChange *change, QString *name)
{
    *change = ParameterChange();
    name->clear();
    bool hasId = false, hasValue = false, hasAnswer = false;
    for (const QByteArray &field : text.simplified().split(' ')) {
        const int equals = field.indexOf('=');
        if (equals <= 0)
            return false;
        const QByteArray key = field.left(equals);
        const char *begin = field.constData() + equals + 1, *end = field.constData() + field.size();
        double number = 0;
        if (key == "id") {
            hasId = readNumber(begin, end, &number) && number >= 0 && number <= 255
                && number == std::floor(number);
            change->id = int(number);
        } else if (key == "name") {
            *name = labelName(QString::fromUtf8(begin, int(end - begin)));
        } else if (key == "value") {
            float value = 0;
            // The float's own shortest text, read back to the same bits; nan and inf too.
            hasValue = readNumber(begin, end, &number);
            value = std::from_chars(begin, end, value).ptr == end ? value : float(number);
            change->value = value;
        } else if (key == "answer") {
            hasAnswer = readAnswerText(QString::fromUtf8(begin, int(end - begin)), change);
        } else if (key == "answered") {
            if (!readNumber(begin, end, &change->answered))
                return false;
        }
    }
    return hasId && hasValue && hasAnswer;
}

QString ParameterLog::label(int id) const
{
    return labels.value(id, QString::number(id));
}

void ParameterLog::add(const ParameterChange &change)
{
    if (list.size() >= kMaxChanges) {
        // The older half folded into what was in force before the rest.
        const size_t folded = kMaxChanges / 2;
        for (size_t i = 0; i < folded; ++i) {
            if (!std::isnan(list[i].inForceFrom()))
                before[list[i].id] = floatText(list[i].value)
                    + (list[i].answer == Answer::Missing ? QStringLiteral("?") : QString());
        }
        list.erase(list.begin(), list.begin() + ptrdiff_t(folded));
        unplaced = unplaced > folded ? unplaced - folded : 0;
        open = open > folded ? open - folded : 0;
        std::vector<size_t> waiting;
        for (const size_t i : answersUnplaced) {
            if (i >= folded)
                waiting.push_back(i - folded);
        }
        answersUnplaced = waiting;
    }
    if (!std::isnan(change.time) && unplaced == list.size())
        ++unplaced;
    list.push_back(change);
    ++edits;
}

void ParameterLog::sent(double time, int id, float value)
{
    ParameterChange change;
    change.time = time;
    change.id = id;
    change.value = value;
    add(change);
}

void ParameterLog::unsent(int count)
{
    for (size_t i = list.size(); i > 0 && count > 0; --i) {
        ParameterChange &change = list[i - 1];
        if (!change.sent || change.answer != Answer::None)
            continue;
        list.erase(list.begin() + ptrdiff_t(i - 1));
        --count;
        // Indices past the one taken out move down by one.
        if (unplaced > i - 1)
            --unplaced;
        open = std::min(open, list.size());
        answersUnplaced.erase(std::remove(answersUnplaced.begin(), answersUnplaced.end(), i - 1),
                              answersUnplaced.end());
        for (size_t &waiting : answersUnplaced)
            waiting -= waiting > i - 1 ? 1 : 0;
    }
    ++edits;
}

void ParameterLog::recorded(const ParameterChange &change)
{
    add(change);
}

bool ParameterLog::readReport(const char *begin, const char *end, double time)
{
    const auto separator = [](char c) {
        return c == ' ' || c == '\t';
    };
    const char *token = begin;
    while (token < end && !separator(*token))
        ++token;
    const size_t size = size_t(token - begin);
    const bool refused = size == 6 && std::memcmp(begin, "reject", 6) == 0;
    if (!refused && !(size == 5 && std::memcmp(begin, "param", 5) == 0))
        return false;
    double id = -1, value = 0;
    bool hasValue = false, hasBits = false;
    quint32 bits = 0;
    QString reason;
    while (token < end) {
        while (token < end && separator(*token))
            ++token;
        const char *tokenEnd = token;
        while (tokenEnd < end && !separator(*tokenEnd))
            ++tokenEnd;
        const char *equals
            = static_cast<const char *>(std::memchr(token, '=', size_t(tokenEnd - token)));
        if (equals) {
            const QByteArray key(token, int(equals - token));
            const char *text = equals + 1;
            if (key == "id") {
                if (!readNumber(text, tokenEnd, &id))
                    id = -1;
            } else if (key == "value") {
                hasValue = readNumber(text, tokenEnd, &value);
            } else if (key == "bits") {
                hasBits = tokenEnd - text >= 1 && tokenEnd - text <= 8
                    && std::from_chars(text, tokenEnd, bits, 16).ptr == tokenEnd;
            } else if (key == "reason") {
                reason = QString::fromUtf8(text, int(tokenEnd - text));
            }
        }
        token = tokenEnd;
    }
    if (!(id >= 0 && id <= 255 && id == std::floor(id)))
        return false;
    answer(int(id), hasValue, value, hasBits, bits, refused, reason, time);
    return true;
}

void ParameterLog::answer(int id, bool hasValue, double value, bool hasBits, quint32 bits,
                          bool refused, const QString &reason, double time)
{
    const auto matches = [&](const ParameterChange &change) {
        return change.sent && change.id == id
            && (hasBits ? bitsOf(change.value) == bits
                        : !hasValue || sameValue(value, change.value));
    };
    // The oldest frame waiting for its answer; else a late answer to one taken as lost.
    size_t found = list.size();
    for (size_t i = open; i < list.size() && found == list.size(); ++i) {
        if (list[i].answer == Answer::None && matches(list[i]))
            found = i;
    }
    for (size_t i = list.size(); found == list.size() && i > 0 && list.size() - i < 256; --i) {
        if (list[i - 1].answer == Answer::Missing && matches(list[i - 1]))
            found = i - 1;
    }
    ++edits;
    if (found == list.size()) {
        // Not a frame seen here: set by the device itself, or through another port.
        ParameterChange change;
        change.time = time;
        change.id = id;
        change.value = float(value);
        if (hasBits)
            std::memcpy(&change.value, &bits, sizeof change.value);
        change.sent = false;
        change.answer = refused ? Answer::Refused : Answer::Applied;
        change.reason = reason;
        change.answered = time;
        add(change);
        if (std::isnan(time))
            answersUnplaced.push_back(list.size() - 1);
        return;
    }
    answering = true;
    ParameterChange &change = list[found];
    change.answer = refused ? Answer::Refused : Answer::Applied;
    change.reason = reason;
    change.answered = time;
    if (std::isnan(time))
        answersUnplaced.push_back(found);
    // Frames go through one line in order: those before it that the device did not answer never
    // reached it whole.
    for (size_t i = open; i < found; ++i) {
        if (list[i].sent && list[i].answer == Answer::None)
            list[i].answer = Answer::Missing;
    }
    while (open < list.size() && list[open].answer != Answer::None)
        ++open;
}

void ParameterLog::lineAt(double time)
{
    for (; unplaced < list.size(); ++unplaced)
        list[unplaced].time = time;
    for (const size_t i : answersUnplaced)
        list[i].answered = time;
    answersUnplaced.clear();
    bool changed = false;
    while (open < list.size()
           && (list[open].answer != Answer::None
               || (answering && list[open].time + kAnswerSeconds < time))) {
        if (list[open].answer == Answer::None) {
            list[open].answer = Answer::Missing;
            changed = true;
        }
        ++open;
    }
    if (changed)
        ++edits;
}

void ParameterLog::clear()
{
    // What waits for a line went to the device as it started again.
    list.erase(list.begin(), list.begin() + ptrdiff_t(unplaced));
    answersUnplaced.clear();
    for (size_t i = 0; i < list.size(); ++i) {
        if (list[i].answer != Answer::None)
            answersUnplaced.push_back(i);
    }
    before.clear();
    unplaced = open = 0;
    ++edits;
}

QString ParameterLog::inForce(double time) const
{
    std::map<int, QString> values = before;
    for (const ParameterChange &change : list) {
        if (change.inForceFrom() <= time)
            values[change.id] = floatText(change.value)
                + (change.answer == Answer::Missing ? QStringLiteral("?") : QString());
    }
    QStringList set;
    for (const auto &[id, value] : values)
        set << label(id) + QLatin1Char(':') + value;
    return set.join(QLatin1Char(','));
}

} // namespace pidtune::scope
