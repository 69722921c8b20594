#pragma once

#include <QString>

// Whether a regular expression may be compiled at all. QRegExp builds its
// automaton without any limit and matches by walking it, so a short pattern
// can take minutes or all memory. Every pattern a job uses goes through
// PatternWithinBudget first; one over the budget is never compiled.
//
// The budget a regular expression must keep before QRegExp compiles it.
// QRegExp reads the part before a counted repetition {m,n} again for each of
// n copies, so nested counts multiply; the pattern written out that way may
// hold at most `elements` tokens. Joining two parts links every exit state of
// the first to every entry state of the second, so repeating an optional
// part makes transitions grow with the square of the count; matching costs,
// at each character of a name, up to every transition, so their number is
// bounded too. A lookahead is a separate automaton, run again at many
// positions of a name: its transitions count 64 times (about what one costs
// in matching, measured against the pattern's own); two nested lookaheads
// are always over, which also covers QRegExp parsing a failed lookahead
// twice. Anchors (^, $, \b, \B, lookaheads) on a part that can match empty
// combine as conditions whose alternatives multiply when such parts follow
// each other: (?:$|^|\b|\B){16} takes seconds; their number, counted
// without QRegExp's simplifications, is bounded as well. QRegExp's parser
// recurses once per group level, on the worker's stack: `depth` bounds that.
//
// Measured on 255-character names: within the budget a pattern compiles in
// milliseconds; the slowest patterns found, such as (a*){61}b, take one to two
// seconds per name, ordinary ones microseconds.
struct PatternBudget
{
    static constexpr int elements = 4096;
    static constexpr int transitions = 2048;
    static constexpr int lookaheadWeight = 64;
    static constexpr int anchorAlternatives = 256;
    static constexpr int depth = 100;
};

// True when the automaton QRegExp would build from `pattern` (RegExp syntax)
// stays within PatternBudget; computed from the pattern's text alone, in time
// linear in its length, without compiling it. Otherwise false, with `why`
// naming the limit it goes past. Says nothing about whether the pattern is
// valid: an invalid one within budget still fails to compile, cheaply.
bool PatternWithinBudget(const QString &pattern, QString *why = nullptr);
