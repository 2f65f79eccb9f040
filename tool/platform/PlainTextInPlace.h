// Shows a new text in a read-only QPlainTextEdit the way setPlainText does,
// but by replacing only the characters that differ from what it shows.
//
// The live readout changes a few digits of its line on every frame. Through
// setPlainText each change clears the document, lays it out anew, resizes
// the scroll range and repaints (and sends to the X server) the whole
// viewport; replacing the changed characters lays out that one line and
// repaints its stripe only. The document's text, the cursor at the start
// with nothing selected and the view scrolled to the top are as
// setPlainText leaves them.
#pragma once

#include <QString>

class QPlainTextEdit;

// An edit that is not read-only, or text a character edit cannot reproduce
// exactly, goes through setPlainText.
void setPlainTextInPlace(QPlainTextEdit& edit, const QString& text);

// text as a document keeps it (QTextDocument::toRawText): every line break
// ("\r\n", "\r" or "\n", or one of the document's own block and frame marks)
// becomes one paragraph separator, as QTextCursor::insertText makes it.
QString documentCharacters(const QString& text);
