#include "engine/patternbudget.h"

namespace {

// What QRegExp makes of one piece of a pattern, in counts: the elements it
// reads (every token, each re-read part counted again), the transitions it
// creates, its entry and exit states (which a join multiplies), and whether
// it matches the empty string (then a join passes through it, so the entries
// or exits of both sides count). `weighted` holds the transitions of the
// lookaheads inside it, already weighted.
//
// Anchors (^, $, \b, \B, lookaheads) are conditions QRegExp attaches to
// transitions and combines: joining two conditions distributes one over the
// alternatives of the other, so their alternatives multiply. The counts
// below are those alternatives, never simplified: for passing through the
// piece when it matches empty (`skip`), on its entry and exit states, and the
// most on any of its transitions.
struct AutomatonSize
{
    qint64 elements = 0;
    qint64 transitions = 0;
    qint64 weighted = 0;
    qint64 entries = 0;
    qint64 exits = 0;
    bool empty = true;
    qint64 skip = 1;
    qint64 entryAnchors = 1;
    qint64 exitAnchors = 1;
    qint64 anchors = 1;

    qint64 Cost() const { return transitions + weighted; }
};

// Counts that grow by multiplication, held at a ceiling far above any budget.
qint64 Times(qint64 a, qint64 b)
{
    const qint64 ceiling = qint64(1) << 40;
    return a >= ceiling / b ? ceiling : a * b;
}

AutomatonSize OneState(bool matchesEmpty)
{
    AutomatonSize size;
    size.elements = size.entries = size.exits = 1;
    size.empty = matchesEmpty;
    return size;
}

AutomatonSize Join(const AutomatonSize &a, const AutomatonSize &b)
{
    AutomatonSize joined;
    joined.elements = a.elements + b.elements;
    joined.transitions = a.transitions + b.transitions + a.exits * b.entries;
    joined.weighted = a.weighted + b.weighted;
    joined.entries = a.empty ? a.entries + b.entries : a.entries;
    joined.exits = b.empty ? a.exits + b.exits : b.exits;
    joined.empty = a.empty && b.empty;
    joined.skip = joined.empty ? Times(a.skip, b.skip) : 1;
    joined.entryAnchors = a.empty ? qMax(a.entryAnchors, Times(b.entryAnchors, a.skip))
                                  : a.entryAnchors;
    joined.exitAnchors = b.empty ? qMax(b.exitAnchors, Times(a.exitAnchors, b.skip))
                                 : b.exitAnchors;
    joined.anchors = qMax(qMax(a.anchors, b.anchors),
                          qMax(joined.entryAnchors, joined.exitAnchors));
    if (a.exits > 0 && b.entries > 0)
        joined.anchors = qMax(joined.anchors, Times(a.exitAnchors, b.entryAnchors));
    return joined;
}

AutomatonSize Either(const AutomatonSize &a, const AutomatonSize &b)
{
    AutomatonSize either;
    either.elements = a.elements + b.elements + 1; // and the bar
    either.transitions = a.transitions + b.transitions;
    either.weighted = a.weighted + b.weighted;
    either.entries = a.entries + b.entries;
    either.exits = a.exits + b.exits;
    either.empty = a.empty || b.empty;
    either.skip = a.empty && b.empty ? a.skip + b.skip : a.empty ? a.skip : b.empty ? b.skip : 1;
    either.entryAnchors = qMax(a.entryAnchors, b.entryAnchors);
    either.exitAnchors = qMax(a.exitAnchors, b.exitAnchors);
    either.anchors = qMax(qMax(a.anchors, b.anchors), either.skip);
    return either;
}

// Reads a pattern as QRegExp's parser does, token for token, and adds up the
// automaton it would build, stopping as soon as the budget is exceeded. The
// tokenizer follows QRegExp's character by character, including how it
// recovers from errors, so that a repetition is applied to the same part as
// there; a count is read as QRegExp reads it, so {0,99999} is unbounded too.
class PatternSizer
{
public:
    explicit PatternSizer(const QString &pattern) : pattern_(pattern) { current_ = NextChar(); }

    bool WithinBudget(QString *why)
    {
        NextToken();
        AutomatonSize size = Expression(1);
        // The whole pattern sits between an initial and a final state.
        if (!over_) {
            size.transitions += size.entries + size.exits + (size.empty ? 1 : 0);
            if (size.empty)
                size.anchors = qMax(size.anchors, size.skip);
            Check(size);
        }
        if (over_ && why)
            *why = why_;
        return !over_;
    }

private:
    enum class Token { End, Char, Class, BackRef, Anchor, Group, Lookahead, Close, Bar, Repeat };
    static constexpr int kEnd = -1;
    static constexpr int kUnbounded = 1025; // QRegExp's "no upper bound"

    int NextChar() { return position_ == pattern_.size() ? kEnd : pattern_.at(position_++).unicode(); }

    static bool IsHexDigit(int c)
    {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    }

    // After a backslash; `current_` is the escaped character.
    Token Escape()
    {
        const int escaped = current_;
        if (escaped == kEnd)
            return Token::Char;
        current_ = NextChar();
        switch (escaped) {
        case '0':
            for (int i = 0; i < 3 && current_ >= '0' && current_ <= '7'; ++i)
                current_ = NextChar();
            return Token::Char;
        case 'b':
        case 'B':
            return Token::Anchor;
        case 'd':
        case 'D':
        case 's':
        case 'S':
        case 'w':
        case 'W':
            return Token::Class;
        case 'x':
            for (int i = 0; i < 4 && IsHexDigit(current_); ++i)
                current_ = NextChar();
            return Token::Char;
        default:
            break;
        }
        if (escaped >= '1' && escaped <= '9') {
            while (current_ >= '0' && current_ <= '9')
                current_ = NextChar();
            return Token::BackRef;
        }
        return Token::Char;
    }

    int Count(int otherwise)
    {
        if (current_ < '0' || current_ > '9')
            return otherwise;
        int count = 0;
        do {
            count = 10 * count + (current_ - '0');
            if (count >= kUnbounded)
                count = otherwise;
            current_ = NextChar();
        } while (current_ >= '0' && current_ <= '9');
        return count;
    }

    void NextToken()
    {
        const int c = current_;
        current_ = NextChar();
        token_ = Token::Char;
        switch (c) {
        case kEnd:
            token_ = Token::End;
            break;
        case '$':
        case '^':
            token_ = Token::Anchor;
            break;
        case '(':
            token_ = Token::Group;
            if (current_ == '?') {
                const int kind = NextChar();
                current_ = NextChar();
                if (kind == '=' || kind == '!')
                    token_ = Token::Lookahead;
            }
            break;
        case ')':
            token_ = Token::Close;
            break;
        case '|':
            token_ = Token::Bar;
            break;
        case '*':
        case '+':
        case '?':
            token_ = Token::Repeat;
            min_ = c == '+' ? 1 : 0;
            max_ = c == '?' ? 1 : kUnbounded;
            break;
        case '{':
            token_ = Token::Repeat;
            min_ = Count(0);
            max_ = min_;
            if (current_ == ',') {
                current_ = NextChar();
                max_ = Count(kUnbounded);
            }
            current_ = NextChar(); // QRegExp skips the next character, '}' or not
            break;
        case '.':
            token_ = Token::Class;
            break;
        case '[':
            // The first member is taken even when it is ']'.
            token_ = Token::Class;
            if (current_ == '^')
                current_ = NextChar();
            do {
                if (current_ == '\\') {
                    current_ = NextChar();
                    Escape();
                } else {
                    current_ = NextChar();
                }
            } while (current_ != ']' && current_ != kEnd);
            if (current_ != kEnd)
                current_ = NextChar();
            break;
        case '\\':
            token_ = Escape();
            break;
        default:
            break;
        }
    }

    bool Check(const AutomatonSize &size)
    {
        if (over_)
            return false;
        if (size.elements > PatternBudget::elements)
            Exceed(QStringLiteral("written out as QRegExp reads it, with each counted "
                                  "repetition {m,n} copied n times, it has more than %1 elements")
                       .arg(PatternBudget::elements));
        else if (size.anchors > PatternBudget::anchorAlternatives)
            Exceed(QStringLiteral("its anchors (^, $, \\b, \\B, lookaheads) would combine into "
                                  "more than %1 alternatives")
                       .arg(PatternBudget::anchorAlternatives));
        else if (size.Cost() > PatternBudget::transitions)
            Exceed(QStringLiteral("QRegExp would build more than %1 transitions from it (those "
                                  "of a lookahead count %2 times)")
                       .arg(PatternBudget::transitions)
                       .arg(PatternBudget::lookaheadWeight));
        return !over_;
    }

    void Exceed(const QString &why)
    {
        over_ = true;
        why_ = why;
    }

    AutomatonSize Expression(int depth)
    {
        AutomatonSize size = Term(depth);
        while (!over_ && token_ == Token::Bar) {
            NextToken();
            size = Either(size, Term(depth));
            Check(size);
        }
        return size;
    }

    AutomatonSize Term(int depth)
    {
        AutomatonSize size;
        while (!over_ && token_ != Token::End && token_ != Token::Close && token_ != Token::Bar) {
            size = Join(size, Factor(depth));
            Check(size);
        }
        return size;
    }

    // QRegExp builds a{m,n} from n copies of a (m of them required; at least
    // one copy, and a plus loop when unbounded), each joined to the next.
    AutomatonSize Factor(int depth)
    {
        const AutomatonSize atom = Atom(depth);
        if (over_ || token_ != Token::Repeat)
            return atom;
        const int min = min_, max = max_;
        NextToken();

        AutomatonSize first = atom;
        first.elements += 1; // the repetition itself
        if (max == kUnbounded) {
            first.transitions += first.exits * first.entries;
            first.anchors = qMax(first.anchors, Times(first.exitAnchors, first.entryAnchors));
        } else if (max == 0) {
            first.entries = first.exits = 0;
        }
        if (min == 0 || max == 0) {
            first.empty = true;
            first.skip = 1; // an optional part passes with no condition
        }
        // Every copy is read again, so each adds at least one element: the
        // loops end at the budget.
        const int required = min == 0 ? 0 : min - 1;
        const int optional = max == kUnbounded ? 0 : max - (required + 1);
        AutomatonSize rest;
        for (int i = 0; i < optional && Check(rest); ++i) {
            rest = Join(atom, rest);
            rest.empty = true;
            rest.skip = 1;
        }
        for (int i = 0; i < required && Check(rest); ++i)
            rest = Join(atom, rest);
        const AutomatonSize repeated = Join(rest, first);
        Check(repeated);
        return repeated;
    }

    AutomatonSize Atom(int depth)
    {
        AutomatonSize size;
        switch (token_) {
        case Token::Char:
        case Token::Class:
            size = OneState(false);
            break;
        case Token::BackRef:
            size = OneState(true); // the group may have matched nothing
            break;
        case Token::Group:
        case Token::Lookahead: {
            if (depth > PatternBudget::depth) {
                Exceed(QStringLiteral("it nests groups more than %1 deep")
                           .arg(PatternBudget::depth));
                return size;
            }
            const bool lookahead = token_ == Token::Lookahead;
            NextToken();
            const AutomatonSize inner = Expression(depth + 1);
            if (over_)
                return size;
            if (!lookahead) {
                size = inner;
                size.elements += 2;
                break;
            }
            // Its own automaton, between its own initial and final states; to
            // the pattern around it, an anchor.
            size.elements = inner.elements + 2;
            size.weighted = PatternBudget::lookaheadWeight
                * (inner.Cost() + inner.entries + inner.exits + (inner.empty ? 1 : 0));
            break;
        }
        default: // an anchor, or a misplaced repetition (an error)
            size.elements = 1;
            break;
        }
        NextToken();
        return size;
    }

    const QString &pattern_;
    int position_ = 0;
    int current_ = kEnd;
    Token token_ = Token::End;
    int min_ = 0, max_ = 0;
    bool over_ = false;
    QString why_;
};

} // namespace

bool PatternWithinBudget(const QString &pattern, QString *why)
{
    return PatternSizer(pattern).WithinBudget(why);
}
