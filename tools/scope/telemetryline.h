// SPDX-License-Identifier: MIT
#pragma once

#include <charconv>
#include <cstring>

namespace pidtune::scope {

// The longest line kept; a longer one is skipped whole.
constexpr int kMaxLineLength = 4096;

// A number as serial plotters write it: decimal, optionally signed, with an exponent, or nan /
// inf in any case. Locale-independent (a comma is never a decimal point here: it separates
// values). False unless the whole text is the number.
inline bool readNumber(const char *begin, const char *end, double *value)
{
    if (begin != end && *begin == '+' && end - begin > 1 && begin[1] != '-')
        ++begin; // from_chars takes no plus sign
    const std::from_chars_result read = std::from_chars(begin, end, *value);
    return begin != end && read.ec == std::errc() && read.ptr == end;
}

// Calls value(name, nameSize, position, number) for each value of one telemetry line (given
// without its line end), in the order they come. Values are separated by spaces, tabs or commas.
// A labelled one, `name:value` or `name=value`, comes with its name and position 0; a bare
// number with no name and its place among the line's bare numbers, 1, 2, ... Words, and labels
// whose value is not a number, are left out. Nothing is copied: the names point into the line.
template<typename Value> void forEachValue(const char *begin, const char *end, Value &&value)
{
    const auto separator = [](char c) {
        return c == ' ' || c == '\t' || c == ',';
    };
    int position = 0;
    for (const char *token = begin; token < end;) {
        if (separator(*token)) {
            ++token;
            continue;
        }
        const char *tokenEnd = token;
        while (tokenEnd < end && !separator(*tokenEnd))
            ++tokenEnd;
        const char *label = token;
        while (label < tokenEnd && *label != ':' && *label != '=')
            ++label;
        double number = 0;
        if (label == tokenEnd) {
            if (readNumber(token, tokenEnd, &number))
                value(token, 0, ++position, number);
        } else if (label > token && readNumber(label + 1, tokenEnd, &number)) {
            value(token, int(label - token), 0, number);
        }
        token = tokenEnd;
    }
}

} // namespace pidtune::scope
