#pragma once

#include <QByteArray>

// What one wait on the module brought: the text before the final prompt, and how the wait
// ended. The text is empty unless the prompt came.
struct Reply {
    enum class End {
        Prompt,    // the module's prompt ended the answer
        Silence,   // no byte came for a whole time-out period
        Endless,   // bytes kept coming past any Kavo answer's length or time, no prompt
        Noise,     // bytes without a prompt, then quiet: something answers, but not as a Kavo
                   // at this rate does (a module at another rate garbles its answer)
        Aborted,   // the operation was ended (port lost, window closing, interrupted)
    };

    QByteArray text;
    End end = End::Silence;
    // Bytes that came without a prompt to end them (a wait that did not end at the prompt):
    // something answers, but not as a Kavo at this rate does.
    qsizetype unprompted = 0;

    bool prompted() const { return end == End::Prompt; }
    bool timedOut() const { return end == End::Silence; }
    bool endless() const { return end == End::Endless; }
    bool noise() const { return end == End::Noise; }
    bool aborted() const { return end == End::Aborted; }
    // The module took the command: its prompt came alone (blanks and line ends allowed).
    bool bare() const { return prompted() && text.trimmed().isEmpty(); }
};
