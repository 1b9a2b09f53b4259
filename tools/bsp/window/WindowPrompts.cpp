#include "tools/bsp/window/WindowPrompts.h"

#include <QDialog>
#include <QFileDialog>

QString WindowPrompts::chooseFile(QWidget* parent, const FileRequest& request) {
    QFileDialog dialog(parent, request.caption, request.directory, request.filter);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setDefaultSuffix(request.defaultSuffix);
    dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // An open dialog takes names of missing files too: the window offers to create them.
    dialog.setFileMode(QFileDialog::AnyFile);
    if (!request.startName.isEmpty()) dialog.selectFile(request.startName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first();
}

QMessageBox::StandardButton WindowPrompts::ask(QWidget* parent, const QString& title, const QString& text,
                                               QMessageBox::StandardButtons buttons) {
    return QMessageBox::question(parent, title, text, buttons);
}

void WindowPrompts::warn(QWidget* parent, const QString& title, const QString& text) {
    QMessageBox::warning(parent, title, text);
}

bool WindowPrompts::runDialog(QDialog& dialog) { return dialog.exec() == QDialog::Accepted; }
