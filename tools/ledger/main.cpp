// ledger: the item data file editor. With --dump, --import or --check it works on the command line
// without a display; otherwise it opens its window, with the file named on the command line if any.
#include "common/formats/IdfTable.h"
#include "tools/ledger/IdfText.h"
#include "tools/ledger/LedgerWindow.h"

#include <QApplication>
#include <QMessageBox>

#include <cstring>

static void showWarning(const char* title, const char* text, void*) {
    QMessageBox::warning(nullptr, QString::fromLatin1(title), QString::fromLatin1(text));
}

int main(int argc, char** argv) {
    if (argc > 1 && std::strncmp(argv[1], "--", 2) == 0) return runLedgerCommand(argc, argv, stdout, stderr);

    QApplication app(argc, argv);
    // Declared after the application so that its destruction, which writes the item codes and may warn
    // about duplicates, still has a running application for the message box.
    IdfTable table;
    table.setWarningHandler(&showWarning, nullptr);
    LedgerWindow window(table);
    window.show();
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() > 1) window.openPath(arguments.at(1));
    return QApplication::exec();
}
