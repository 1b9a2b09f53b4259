// The item editor's main window: one item data file as a grid, one row per item and one column per
// record position. Every command goes through the table, which writes each edit to the file at once;
// the window only adapts the table to widgets and keeps no copy of the file's contents.
#pragma once

#include <QMainWindow>

class IdfTable;
class QFileDialog;
class QMenu;
class QTableView;
class ItemGridModel;

class LedgerWindow : public QMainWindow {
    Q_OBJECT
public:
    // The table outlives the window; it writes the item codes when it is destroyed.
    explicit LedgerWindow(IdfTable& table, QWidget* parent = nullptr);

    // Opens an existing file for editing and shows it. False, after a message box, when it cannot.
    bool openPath(const QString& path);
    QTableView* grid() const { return grid_; }

public slots:
    void newFile();
    void openFile();
    void saveFile();
    void newItem();
    void deleteItem();
    void cloneItem();
    void moveToTop();
    void newRecord();
    void deleteRecord();
    void toggleHeaderMode();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class Purpose { EditValue, DeleteRecord };

    void setDefaultColumns();
    void setColumns();
    void refreshRows();
    int selectedRow() const;
    // Shows the records of the item at the mouse as a popup menu and acts on the chosen one.
    void showRecordPopup(int item, Purpose purpose);
    // Runs the one-line edit dialog with this start text; the confirmed text, or null text when cancelled.
    QString runEditDialog(const QString& startText);
    // Prepares the Open and Save dialogs the same way: filter, default extension, last chosen path.
    void setUpFileDialog(QFileDialog& dialog) const;

    IdfTable& table_;
    ItemGridModel* model_ = nullptr;
    QTableView* grid_ = nullptr;
    bool headerMode_ = false;
    QString lastPath_;
};
