// SPDX-License-Identifier: MIT
#pragma once

#include <QMap>
#include <QString>

#include <limits>
#include <map>
#include <vector>

namespace pidtune::scope {

// What the device said of a parameter change.
enum class Answer : unsigned char {
    None, // no answer (yet), or a device that does not answer
    Applied, // it reported the value applied
    Refused, // it reported the value refused
    Missing, // it answers frames, and answered later ones or took too long, but not this one
};

// One parameter written to the device, or reported by it.
struct ParameterChange
{
    static constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
    double time = kNone; // on the chart's axis, in seconds; NaN until a line places it
    int id = 0; // 0-255
    float value = 0;
    bool sent = true; // seen going to the device; false: only the device's report of it
    Answer answer = Answer::None;
    QString reason; // why the device refused it, as it said
    double answered = kNone; // when it said so, as time

    // In force from this time on, or never (NaN): from the device's report where there is one,
    // which may come long after the frame (a device whose line was held up), else from when the
    // frame went out; never if refused.
    double inForceFrom() const
    {
        return answer == Answer::Refused ? kNone : answer == Answer::Applied ? answered : time;
    }
};

// The shortest text that reads back as the same float ("0.7", "1e-05", "nan", "-inf").
QString floatText(float value);
// A name usable as one label of a step line: whitespace, ',', ':' and '=' become '_'.
QString labelName(const QString &name);
// The answer's word in a saved CSV ("applied", "refused:range", ...), and back; false for a
// word that is none of them.
QString answerText(const ParameterChange &change);
bool readAnswerText(const QString &text, ParameterChange *change);
// A change as one cell of a saved CSV's "pidtune_parameter" column, without commas:
// "id=1 name=Kp value=5 answer=applied answered=0.512" (name and answered only where known), and
// back; false for a cell that is not one. Its time is the row's.
QString changeText(const ParameterChange &change, const QString &name);
bool readChangeText(const QByteArray &text, ParameterChange *change, QString *name);

// The parameters written to the device and what it said of them, in time order: the chart's
// markers and the parameter set in force at each step.
//
// A frame is placed on the chart at the time it went out (arrival-timed lines) or, where the
// device's own clock times the lines, at the time of the next line to arrive: the device's clock
// is known only from its lines. The device's answers are timed the same way. A device that reports
// what it did with a frame (the example firmware's "param id=1 value=5 ..." and "reject id=5
// value=-150 ... reason=range" lines) answers frames in the order they came, so the oldest
// unanswered frame with that identifier and value is the one answered, and frames sent before it
// without an answer never arrived.
class ParameterLog
{
public:
    // A frame the device has not answered this long after it went out is taken as lost, once the
    // device has shown that it answers.
    static constexpr double kAnswerSeconds = 1;
    // Older changes are folded into the set in force before the rest.
    static constexpr size_t kMaxChanges = size_t(1) << 16;

    void setNames(const QMap<int, QString> &names) { labels = names; }
    // A name a recording gives, where none was given.
    void nameIfUnknown(int id, const QString &name)
    {
        if (!name.isEmpty() && !labels.contains(id))
            labels.insert(id, name);
    }
    // The name given to an identifier, or none.
    QString name(int id) const { return labels.value(id); }
    // The parameter's name, or its identifier.
    QString label(int id) const;

    // A frame that went to the device at this time (NaN: time it by the next line).
    void sent(double time, int id, float value);
    // Reads a device's report line "param id=N value=V [bits=HHHHHHHH] ..." or
    // "reject id=N value=V ... reason=R" (without its line end) as an answer; false, and nothing
    // done, for any other line. Its time as for sent().
    bool readReport(const char *begin, const char *end, double time);
    // The last `count` frames sent never left: they are forgotten.
    void unsent(int count);
    // A change as a saved recording holds it.
    void recorded(const ParameterChange &change);
    // A line at this time: places the changes waiting for one and gives up on overdue answers.
    void lineAt(double time);
    // Forgets what is known, as for a device that started again with its own parameters; the
    // changes waiting for a line are kept, they went to the device as it started.
    void clear();

    const std::vector<ParameterChange> &changes() const { return list; }
    // Changes since this was last called: its count grows with every change added or answered.
    quint64 revision() const { return edits; }
    // The parameters in force at the time, in identifier order: "Kp:5,Ki:20,7:0.5"; a value the
    // device, which answers, never confirmed ends in '?'. Empty when none is known.
    QString inForce(double time) const;

private:
    void add(const ParameterChange &change);
    void answer(int id, bool hasValue, double value, bool hasBits, quint32 bits, bool refused,
                const QString &reason, double time);

    QMap<int, QString> labels;
    std::vector<ParameterChange> list;
    std::map<int, QString> before; // in force before the oldest change kept, by identifier
    size_t unplaced = 0; // the first change waiting for a line: all after it wait too
    std::vector<size_t> answersUnplaced; // changes whose answer waits for a line
    size_t open = 0; // no change before this waits for an answer
    bool answering = false;
    quint64 edits = 0;
};

} // namespace pidtune::scope
