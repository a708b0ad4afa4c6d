// The small widgets of the main window: command buttons that act on the press
// of any mouse button, the port selection box with its mouse-down action, the
// status bar with its four panels, and the progress bar.
#pragma once

#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>

#include "protocol/ports.h"

namespace dorvane::console {

// Lowers the widget's font size, in half points down to 6, until the text
// fits the width: the design's sizes were made for a narrower face than the
// one a machine may have.
void fitText(QWidget& widget, const QString& text, int width);

// A command button: emits mouseDown when any mouse button is pressed on it,
// and has no click or keyboard action of its own.
class MouseDownButton final : public QPushButton {
    Q_OBJECT
public:
    explicit MouseDownButton(const QString& caption, QWidget* parent = nullptr);
    // Face and text colours.
    void setColours(const QColor& face, const QColor& text);
    // Sets the caption, in a font that lets it fit the button.
    void setCaption(const QString& caption);
    QColor faceColour() const { return face_; }
    QColor textColour() const { return text_; }

signals:
    void mouseDown(Qt::MouseButton button);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    QColor face_;
    QColor text_;
};

// The editable port selection box: mouseDown on any press, on the box or on
// its text field; portChosen when a port is picked from the list or typed and
// confirmed with Enter.
class PortComboBox final : public QComboBox {
    Q_OBJECT
public:
    explicit PortComboBox(QWidget* parent = nullptr);

signals:
    void mouseDown();
    void portChosen(const QString& text);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// `sInfo`: four panels, the last taking the rest of the width.
class StatusPanels final : public QStatusBar, public IStatusPanels {
    Q_OBJECT
public:
    static constexpr int kPanelCount = 4;
    explicit StatusPanels(QWidget* parent = nullptr);
    // IStatusPanels: single-byte text.
    void setPanelText(int index, const char* text) override;
    QString panelText(int index) const;

private:
    QLabel* panels_[kPanelCount];
};

// `cxProgressBar`, moved by the download sequence and set up by the loader.
class ProgressBar final : public QProgressBar, public IProgressBar {
    Q_OBJECT
public:
    explicit ProgressBar(QWidget* parent = nullptr);
    void setRange(std::uint32_t minimum, std::uint32_t maximum) override;
    void setPosition(std::uint32_t position) override;
    void setToMaximum() override;
};

}  // namespace dorvane::console
