#include "platform/PlainTextInPlace.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>

namespace {
// The marks a document keeps at the start and end of a frame; inserted as
// text, they break the block like a line break.
const QChar kFrameStart(0xfdd0);
const QChar kFrameEnd(0xfdd1);
}  // namespace

QString documentCharacters(const QString& text) {
    QString characters;
    characters.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        const QChar ch = text.at(i);
        if (ch == QLatin1Char('\r') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n'))
            continue;  // the '\n' after it makes the one break
        const bool breaks = ch == QLatin1Char('\n') || ch == QLatin1Char('\r') ||
                            ch == QChar::ParagraphSeparator || ch == kFrameStart || ch == kFrameEnd;
        characters += breaks ? QChar(QChar::ParagraphSeparator) : ch;
    }
    return characters;
}

void setPlainTextInPlace(QPlainTextEdit& edit, const QString& text) {
    QTextDocument* document = edit.document();
    if (!edit.isReadOnly() || !document) {
        edit.setPlainText(text);
        return;
    }
    const QString before = document->toRawText();
    const QString after = documentCharacters(text);
    if (before != after) {
        // The characters both share at the start and at the end stay.
        const int shortest = std::min(before.size(), after.size());
        int same = 0;
        while (same < shortest && before.at(same) == after.at(same)) ++same;
        int sameAtEnd = 0;
        while (sameAtEnd < shortest - same &&
               before.at(before.size() - 1 - sameAtEnd) == after.at(after.size() - 1 - sameAtEnd))
            ++sameAtEnd;
        // No undo step is kept for a text nobody typed.
        const bool undo = document->isUndoRedoEnabled();
        document->setUndoRedoEnabled(false);
        QTextCursor change(document);
        change.setPosition(same);
        change.setPosition(before.size() - sameAtEnd, QTextCursor::KeepAnchor);
        change.insertText(after.mid(same, after.size() - same - sameAtEnd));
        document->setUndoRedoEnabled(undo);
        document->setModified(false);
        if (document->toRawText() != after) {  // not reproduced: start afresh
            edit.setPlainText(text);
            return;
        }
    }
    // Where setPlainText leaves the view: the cursor at the start, nothing
    // selected, scrolled to the top and the left.
    if (edit.textCursor().position() != 0 || edit.textCursor().hasSelection())
        edit.setTextCursor(QTextCursor(document));
    edit.verticalScrollBar()->setValue(0);
    edit.horizontalScrollBar()->setValue(0);
}
