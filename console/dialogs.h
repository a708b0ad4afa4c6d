// Message boxes and file dialogs, behind one small interface: the program
// shows real modal boxes (QtDialogs); tests answer them from a script.
//
// Texts are the system's single-byte texts, "\r\n" line breaks included;
// the Qt side converts them (Latin-1) when it shows them.
#pragma once

#include <string>

class QWidget;

namespace dorvane::console {

enum class BoxKind { Information, Error };
enum class BoxButtons { Ok, OkCancel };

// What an open-file dialog is preset with: its title, the text of its
// file-name field (a wildcard such as "*.qfwp") and the caption of its filter.
struct FileDialogPreset {
    std::string title;
    std::string fileName;
    std::string filterCaption;
};

class IDialogs {
public:
    virtual ~IDialogs() = default;
    // Shows a modal box; true when the operator answered OK.
    virtual bool messageBox(BoxKind kind, BoxButtons buttons, const std::string& text) = 0;
    // Shows a modal open-file dialog; false when the operator cancelled.
    // The path comes back in the file system's own encoding.
    virtual bool openFile(const FileDialogPreset& preset, std::string& path) = 0;
};

// The real boxes. Each box is also echoed on standard error as one line
// ("Dorvane: error box: ..."), so that a program run unattended by a service
// manager leaves a trace of what it stopped on.
class QtDialogs final : public IDialogs {
public:
    void setParent(QWidget* parent) { parent_ = parent; }
    bool messageBox(BoxKind kind, BoxButtons buttons, const std::string& text) override;
    bool openFile(const FileDialogPreset& preset, std::string& path) override;

private:
    QWidget* parent_ = nullptr;
};

// A box text as one line for standard error: line breaks become blanks.
std::string boxEchoLine(BoxKind kind, const std::string& text);

}  // namespace dorvane::console
