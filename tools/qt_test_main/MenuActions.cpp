#include "tools/qt_test_main/MenuActions.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

#include <gtest/gtest.h>

QAction* findMenuAction(const QMenuBar* bar, const QString& menu, const QString& text) {
    for (QAction* top : bar->actions()) {
        if (top->text() != menu || !top->menu()) continue;
        for (QAction* command : top->menu()->actions())
            if (command->text() == text) return command;
    }
    ADD_FAILURE() << "no " << menu.toStdString() << " > " << text.toStdString();
    return nullptr;
}
