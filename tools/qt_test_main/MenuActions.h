// Finding a window's menu commands by their texts, as a user reads them ("&File", "&Open").
#pragma once

#include <QString>

class QAction;
class QMenuBar;

// The command `text` of the menu `menu`; null, failing the running test, when there is none.
QAction* findMenuAction(const QMenuBar* bar, const QString& menu, const QString& text);
