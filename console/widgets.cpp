#include "console/widgets.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>

#include <algorithm>
#include <climits>

namespace dorvane::console {

namespace {
int clampToInt(std::uint32_t v) { return static_cast<int>(std::min<std::uint32_t>(v, INT_MAX)); }
}  // namespace

void fitText(QWidget& widget, const QString& text, int width) {
    QFont font = widget.parentWidget() != nullptr ? widget.parentWidget()->font() : widget.font();
    qreal size = font.pointSizeF();
    if (size <= 0) return;
    font.setPointSizeF(size);
    while (QFontMetrics(font).horizontalAdvance(text) > width && size > 6.0) {
        size -= 0.5;
        font.setPointSizeF(size);
    }
    widget.setFont(font);
}

MouseDownButton::MouseDownButton(const QString& caption, QWidget* parent) : QPushButton(caption, parent) {
    setFocusPolicy(Qt::NoFocus);
    setColours(QColor(255, 255, 255), QColor(0, 0, 0));
}

void MouseDownButton::setColours(const QColor& face, const QColor& text) {
    face_ = face;
    text_ = text;
    setStyleSheet(QStringLiteral("QPushButton { background-color: %1; color: %2; border: 1px solid #7a7a7a; "
                                 "border-radius: 2px; padding: 0px; }"
                                 "QPushButton:disabled { color: #a0a0a0; }")
                      .arg(face.name(), text.name()));
}

void MouseDownButton::setCaption(const QString& caption) {
    setText(caption);
    fitText(*this, caption, width() - 6);
}

void MouseDownButton::mousePressEvent(QMouseEvent* event) {
    event->accept();
    if (isEnabled()) emit mouseDown(event->button());
}

void MouseDownButton::mouseReleaseEvent(QMouseEvent* event) { event->accept(); }

void MouseDownButton::keyPressEvent(QKeyEvent* event) { event->ignore(); }

void MouseDownButton::keyReleaseEvent(QKeyEvent* event) { event->ignore(); }

PortComboBox::PortComboBox(QWidget* parent) : QComboBox(parent) {
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    lineEdit()->installEventFilter(this);
    connect(this, &QComboBox::textActivated, this, &PortComboBox::portChosen);
}

void PortComboBox::mousePressEvent(QMouseEvent* event) {
    if (isEnabled()) emit mouseDown();
    QComboBox::mousePressEvent(event);
}

bool PortComboBox::eventFilter(QObject* watched, QEvent* event) {
    if (watched == lineEdit() && event->type() == QEvent::MouseButtonPress && isEnabled()) emit mouseDown();
    // Return applies a typed name. The combo box activates an item itself
    // only when the text names a listed item other than the current one; a
    // typed name that is the current item or is not listed is applied here.
    if (watched == lineEdit() && event->type() == QEvent::KeyPress && isEnabled()) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        const QString text = lineEdit()->text();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && !text.isEmpty() &&
            (findText(text) == -1 || itemText(currentIndex()) == text)) {
            emit portChosen(text);
        }
    }
    return QComboBox::eventFilter(watched, event);
}

StatusPanels::StatusPanels(QWidget* parent) : QStatusBar(parent) {
    setSizeGripEnabled(false);
    const int widths[kPanelCount - 1] = {144, 132, 96};
    for (int i = 0; i < kPanelCount; ++i) {
        panels_[i] = new QLabel(this);
        panels_[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panels_[i]->setObjectName(QStringLiteral("sInfoPanel%1").arg(i));
        if (i < kPanelCount - 1) {
            panels_[i]->setFixedWidth(widths[i]);
            addWidget(panels_[i]);
        } else {
            addWidget(panels_[i], 1);
        }
    }
}

void StatusPanels::setPanelText(int index, const char* text) {
    if (index < 0 || index >= kPanelCount) return;
    panels_[index]->setText(QString::fromLatin1(text != nullptr ? text : ""));
}

QString StatusPanels::panelText(int index) const {
    return (index >= 0 && index < kPanelCount) ? panels_[index]->text() : QString();
}

ProgressBar::ProgressBar(QWidget* parent) : QProgressBar(parent) {}

void ProgressBar::setRange(std::uint32_t minimum, std::uint32_t maximum) {
    QProgressBar::setRange(clampToInt(minimum), clampToInt(maximum));
}

void ProgressBar::setPosition(std::uint32_t position) { setValue(clampToInt(position)); }

void ProgressBar::setToMaximum() { setValue(maximum()); }

}  // namespace dorvane::console
