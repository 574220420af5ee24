#pragma once

#include <QString>

class QLabel;

// Boxes whose text may be longer than the box: the text is shown, and when the box cannot
// show all of it, the whole text is the box's tool-tip as well.
namespace ReadableText {

// True when the label shows all of `text` inside its frame, word wrap included.
bool fits(const QLabel *label, const QString &text);
// Sets the text and the tool-tip that goes with it (none when the text fits).
void show(QLabel *label, const QString &text);
// The tool-tip again, for the label's text as it stands (after the label was resized).
void refit(QLabel *label);

} // namespace ReadableText
