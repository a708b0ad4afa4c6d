#include "console/dialogs.h"

#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QString>

#include <cstdio>

namespace dorvane::console {

namespace {

// Single-byte text to what a Qt widget shows: Latin-1, and CR LF as one break.
QString shown(const std::string& text) {
    QString s = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return s;
}

}  // namespace

std::string boxEchoLine(BoxKind kind, const std::string& text) {
    std::string line = kind == BoxKind::Error ? "Dorvane: error box: " : "Dorvane: information box: ";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        line += (c == '\r' || c == '\n') ? ' ' : c;
    }
    return line;
}

bool QtDialogs::messageBox(BoxKind kind, BoxButtons buttons, const std::string& text) {
    const std::string echo = boxEchoLine(kind, text);
    const QByteArray local = QString::fromLatin1(echo.data(), static_cast<qsizetype>(echo.size())).toLocal8Bit();
    std::fprintf(stderr, "%s\n", local.constData());
    std::fflush(stderr);

    QMessageBox box(kind == BoxKind::Error ? QMessageBox::Critical : QMessageBox::Information,
                    kind == BoxKind::Error ? QStringLiteral("Error") : QStringLiteral("Information"), shown(text),
                    buttons == BoxButtons::OkCancel ? (QMessageBox::Ok | QMessageBox::Cancel) : QMessageBox::Ok,
                    parent_);
    box.setDefaultButton(QMessageBox::Ok);
    return box.exec() == QMessageBox::Ok;
}

bool QtDialogs::openFile(const FileDialogPreset& preset, std::string& path) {
    QFileDialog dialog(parent_, shown(preset.title));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    const QString pattern = shown(preset.fileName);
    dialog.setNameFilter(shown(preset.filterCaption) + QStringLiteral(" (") + pattern + QStringLiteral(")"));
    dialog.selectFile(pattern);
    if (dialog.exec() != QDialog::Accepted) return false;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) return false;
    path = QFile::encodeName(files.front()).toStdString();
    return true;
}

}  // namespace dorvane::console
