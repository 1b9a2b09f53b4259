// Every modal question the compiler's window asks: file dialogs, message boxes and the options dialog.
// The window asks only through this class, so that tests answer from a script instead of a blocking box.
// The base class shows the real Qt dialogs; tests override what they script. Window thread only.
#pragma once

#include <QMessageBox>
#include <QString>

class QDialog;
class QWidget;

// What a file dialog is asked to show.
struct FileRequest {
    bool save = false;         // a save dialog (else an open dialog)
    QString caption;           // "Open", "Save as", "Export as"
    QString filter;            // "Quarry Final (*.qlf)"
    QString defaultSuffix;     // added when the typed name has none: "qlf"
    QString directory;         // where the dialog starts
    QString startName;         // the name proposed in the name field (may be empty)
};

class WindowPrompts {
public:
    virtual ~WindowPrompts() = default;

    // The chosen path, or an empty text when cancelled.
    virtual QString chooseFile(QWidget* parent, const FileRequest& request);
    // A question with the given buttons; the button pressed (Cancel/No when the box is closed).
    virtual QMessageBox::StandardButton ask(QWidget* parent, const QString& title, const QString& text,
                                            QMessageBox::StandardButtons buttons);
    // A message with an Ok button.
    virtual void warn(QWidget* parent, const QString& title, const QString& text);
    // Runs a dialog the window built; true when it was accepted.
    virtual bool runDialog(QDialog& dialog);
};
