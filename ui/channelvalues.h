// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

#include <optional>

namespace pidtune {

// A slider position is the channel value times this factor, so values step by 0.00001.
constexpr double kSliderScale = 100000.0;

// The longest text an identifier, Min or Max box keeps: far more than any number needs, short
// enough that no box ever becomes slow to edit.
constexpr int kMaxFieldLength = 256;

// Min/Max field text to a slider bound: the entry as single precision, times 100000 exactly,
// truncated toward zero and held inside the int range ("0.7" gives 69999, "1e9" gives INT_MAX).
// An empty box, and the lone sign that starts a number being typed, stand for 0. A text that
// holds no finite number ("0,5", "nan", digits of another script) gives nothing: the box cannot
// be read, and no value may be taken from its slider.
std::optional<int> boundFromText(const QString &text);

// Whether a slider can span these bounds: Qt 5's slider arithmetic fails for 2^31 positions or
// more between them (it divides by zero at exactly 2^31), so a range wider than 21474.83647 is
// not given to a slider.
bool sliderSpanFits(int minimum, int maximum);

// Slider position to the value label's text: 6 significant digits, right-aligned in 10 characters.
QString valueText(int position);

// The value a label's text stands for; this, not the raw position, is what the device receives.
float valueFromText(const QString &text);

// The identifier a frame may carry: a whole number 0-255 in decimal digits, with an optional
// sign and surrounding whitespace. Anything else would silently address a different parameter,
// so it yields nothing.
std::optional<int> frameIdentifier(const QString &text);

} // namespace pidtune
