#include "console/logView.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>

namespace dorvane::console {

LogView::LogView(QWidget* parent, int maxLines, int trimChunk)
    : QPlainTextEdit(parent), maxLines_(maxLines > 0 ? maxLines : 1), trimChunk_(trimChunk > 0 ? trimChunk : 1) {
    setReadOnly(true);
    setUndoRedoEnabled(false);  // an undo history would keep every line ever written
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    for (int i = 0; i < 8; ++i) formats_[i].setForeground(colourOf(static_cast<LogColour>(i)));
}

QColor LogView::colourOf(LogColour colour) const {
    switch (colour) {
        case LogColour::Black: return QColor(0, 0, 0);
        case LogColour::Highlight: return palette().color(QPalette::Active, QPalette::Highlight);
        case LogColour::Navy: return QColor(0, 0, 128);
        case LogColour::Teal: return QColor(0, 128, 128);
        case LogColour::Purple: return QColor(128, 0, 128);
        case LogColour::Green: return QColor(0, 128, 0);
        case LogColour::Olive: return QColor(128, 128, 0);
        case LogColour::Fuchsia: return QColor(255, 0, 255);
    }
    return QColor(0, 0, 0);
}

void LogView::appendLine(const char* text, LogColour colour) {
    try {
        const int index = static_cast<int>(colour);
        setCurrentCharFormat(formats_[(index >= 0 && index < 8) ? index : 0]);
        // The view's own append: one block at the end, laid out on its own,
        // with no repaint of its own.
        appendPlainText(QString::fromLatin1(text != nullptr ? text : ""));
        if (document()->blockCount() > maxLines_ + trimChunk_) dropOldest();
        if (!showPending_) {
            showPending_ = true;
            QTimer::singleShot(0, this, &LogView::showNewest);
        }
    } catch (...) {
        // A line the view cannot take is dropped; the stack logs from inside
        // its protocol steps and must not be disturbed.
    }
}

void LogView::dropOldest() {
    QTextCursor cursor(document());
    cursor.beginEditBlock();
    cursor.movePosition(QTextCursor::Start);
    cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, document()->blockCount() - maxLines_);
    cursor.removeSelectedText();
    cursor.endEditBlock();
}

void LogView::showNewest() {
    showPending_ = false;
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    setFocus(Qt::OtherFocusReason);
}

void LogView::clearLog() { clear(); }

int LogView::lineCount() const { return document()->isEmpty() ? 0 : document()->blockCount(); }

QString LogView::lineText(int index) const { return document()->findBlockByNumber(index).text(); }

QColor LogView::lineColour(int index) const {
    const QTextBlock block = document()->findBlockByNumber(index);
    const auto it = block.begin();
    if (it.atEnd()) return block.charFormat().foreground().color();
    return it.fragment().charFormat().foreground().color();
}

}  // namespace dorvane::console
