// The event log view `reDisplay`: a read-only text view with a vertical scroll
// bar, to which the event log appends one coloured line per entry.
#pragma once

#include <QColor>
#include <QPlainTextEdit>
#include <QTextCharFormat>

#include "protocol/ports.h"

namespace dorvane::console {

class LogView final : public QPlainTextEdit, public ILogSink {
    Q_OBJECT
public:
    // The view keeps at least the newest kMaxLines lines: an unattended bench
    // logs for weeks without a Clean, and every line costs memory (about
    // 0.65 kB with its layout), so the bound holds the view near 130 MB at
    // worst while still keeping the whole log of several complete transfers.
    // Lines beyond it are dropped kTrimChunk at a time, oldest first, in one
    // edit: the document then tidies its text once per chunk instead of once
    // every few hundred lines.
    static constexpr int kMaxLines = 200000;
    static constexpr int kTrimChunk = 1000;

    explicit LogView(QWidget* parent = nullptr, int maxLines = kMaxLines, int trimChunk = kTrimChunk);

    // ILogSink: the line is single-byte text. Appending never fails the caller.
    void appendLine(const char* text, LogColour colour) override;

    // Empties the view (Clean, and the start of every transfer).
    void clearLog();

    QColor colourOf(LogColour colour) const;
    int lineCount() const;
    int maxLines() const { return maxLines_; }
    // Line i's text and colour, for tests.
    QString lineText(int index) const;
    QColor lineColour(int index) const;

private:
    // Brings the newest line into sight and gives the view the keyboard focus;
    // run once after a burst of lines, not once per line.
    void showNewest();

    void dropOldest();

    QTextCharFormat formats_[8];
    int maxLines_;
    int trimChunk_;
    bool showPending_ = false;
};

}  // namespace dorvane::console
