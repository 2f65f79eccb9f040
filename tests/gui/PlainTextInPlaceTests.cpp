// A read-only edit updated in place ends exactly as setPlainText leaves it:
// the same characters and formats, the same picture, the cursor at the start
// with nothing selected and the view at the top.
#include <gtest/gtest.h>

#include <QFont>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextDocument>
#include <algorithm>
#include <vector>

#include "platform/PlainTextInPlace.h"

namespace {

// The strings in the order they are shown; each step is compared.
const std::vector<std::vector<QString>> kSequences = {
    // The live readout: digits change inside a line of Latin and CJK text.
    {QString::fromUtf8("[0][1][人],区域[0],坐标[-0.26 0.87][0.24 1.17],身高[1.85]米\r\n"),
     QString::fromUtf8("[0][1][人],区域[0],坐标[-0.21 0.91][0.29 1.22],身高[1.85]米\r\n"),
     QString::fromUtf8("[0][1][人],区域[1],坐标[0.01 0.91][0.49 1.5],身高[1.9]米\r\n")},
    // A second person comes and goes; then the height line, then nothing.
    {"[0][1][person],area[0],pos[0.10 0.20][0.30 0.40],hei[1.70]m\r\n",
     "[0][1][person],area[0],pos[0.10 0.20][0.30 0.40],hei[1.70]m\r\n"
     "[1][2][person],area[0],pos[0.50 0.60][0.70 0.80],hei[1.60]m\r\n",
     "[1][2][person],area[0],pos[0.50 0.60][0.70 0.80],hei[1.60]m\r\n",
     "output height[1.65]m    \n", "", "", "x"},
    // Changes at either end, and repeats where the kept start and end could
    // overlap.
    {"abc", "xbc", "xby", "aaa", "aa", "aaaa", "ab", "abab", "b", "bab"},
    // Every kind of line break a document turns into one block break.
    {"a\r\nb", "a\nb", "a\rb", "a\r\n\r\nb", QString("a") + QChar(QChar::ParagraphSeparator) + "b",
     QString("a") + QChar(0xfdd0) + "b" + QChar(0xfdd1), "a\r", "\r\n", "\n\n\n",
     // and what stays inside a line: a line separator, a tab
     QString("a") + QChar(QChar::LineSeparator) + "b\tc"},
};

struct Edits {
    Edits() {
        QFont font = inPlace.font();
        font.setPointSize(20);  // as the main dialog's readout
        for (QPlainTextEdit* edit : {&inPlace, &reference}) {
            edit->setReadOnly(true);
            edit->setFont(font);
            edit->resize(640, 100);
        }
    }
    QPlainTextEdit inPlace;
    QPlainTextEdit reference;
};

void expectSameAsSetPlainText(Edits& e, const QString& text) {
    // Where the document is changed: only past the start both texts share,
    // not the whole anew.
    const QString before = e.inPlace.document()->toRawText();
    const QString after = documentCharacters(text);
    int shared = 0;
    while (shared < std::min(before.size(), after.size()) && before[shared] == after[shared])
        ++shared;
    int firstChange = -1;
    const auto watch = QObject::connect(e.inPlace.document(), &QTextDocument::contentsChange,
                                        [&](int from, int, int) {
                                            if (firstChange < 0) firstChange = from;
                                        });
    setPlainTextInPlace(e.inPlace, text);
    QObject::disconnect(watch);
    if (before != after) {
        EXPECT_EQ(firstChange, shared) << "changed from the first difference";
    }
    e.reference.setPlainText(text);
    const QTextDocument& shown = *e.inPlace.document();
    const QTextDocument& wanted = *e.reference.document();
    EXPECT_EQ(shown.toRawText(), wanted.toRawText());
    EXPECT_EQ(shown.blockCount(), wanted.blockCount());
    EXPECT_EQ(shown.toHtml(), wanted.toHtml()) << "formats as well as characters";
    EXPECT_FALSE(shown.isModified());
    EXPECT_FALSE(shown.isUndoAvailable()) << "no undo step for text nobody typed";
    EXPECT_EQ(e.inPlace.textCursor().position(), 0);
    EXPECT_FALSE(e.inPlace.textCursor().hasSelection());
    EXPECT_EQ(e.inPlace.verticalScrollBar()->value(), 0);
    EXPECT_EQ(e.inPlace.grab().toImage(), e.reference.grab().toImage());
}

TEST(PlainTextInPlaceTest, EveryStepEndsAsSetPlainTextLeavesIt) {
    for (const auto& sequence : kSequences) {
        Edits e;
        for (const QString& text : sequence) {
            SCOPED_TRACE(text.toStdString());
            expectSameAsSetPlainText(e, text);
        }
    }
}

TEST(PlainTextInPlaceTest, ASelectionAndAScrolledViewAreResetAsBySetPlainText) {
    Edits e;
    QString lines;
    for (int i = 0; i < 10; ++i) lines += QString("[%1][0][person],hei[1.70]m\r\n").arg(i);
    expectSameAsSetPlainText(e, lines);
    // The user selects the last lines and scrolls down to them.
    QTextCursor selection(e.inPlace.document());
    selection.movePosition(QTextCursor::End);
    selection.movePosition(QTextCursor::Up, QTextCursor::KeepAnchor, 2);
    e.inPlace.setTextCursor(selection);
    e.inPlace.verticalScrollBar()->setValue(e.inPlace.verticalScrollBar()->maximum());
    ASSERT_GT(e.inPlace.verticalScrollBar()->value(), 0) << "the text must be taller than the edit";
    expectSameAsSetPlainText(e, QString(lines).replace("1.70", "1.71"));
    // Unchanged text resets them too.
    e.inPlace.setTextCursor(selection);
    expectSameAsSetPlainText(e, QString(lines).replace("1.70", "1.71"));
}

TEST(PlainTextInPlaceTest, DocumentCharactersAreWhatADocumentKeeps) {
    for (const auto& sequence : kSequences)
        for (const QString& text : sequence) {
            QTextDocument document;
            document.setPlainText(text);
            EXPECT_EQ(documentCharacters(text), document.toRawText()) << text.toStdString();
        }
}

TEST(PlainTextInPlaceTest, AnEditableEditIsSetWhole) {
    QPlainTextEdit edit;
    edit.setPlainText("typed");
    setPlainTextInPlace(edit, "shown");
    EXPECT_EQ(edit.toPlainText(), "shown");
    EXPECT_FALSE(edit.document()->isUndoAvailable()) << "setPlainText drops the undo history";
}

}  // namespace
