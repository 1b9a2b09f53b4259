#include "tools/ledger/LedgerWindow.h"

#include "common/formats/IdfTable.h"

#include <algorithm>

#include <QAbstractTableModel>
#include <QApplication>
#include <QCursor>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTableView>

// File texts are single bytes (names may hold bytes from 128 up); Latin-1 maps each byte to one character
// and back, so what the grid shows and writes is exactly what the file holds.
static QString fromFileText(const char* text) { return QString::fromLatin1(text); }

class ItemGridModel : public QAbstractTableModel {
public:
    explicit ItemGridModel(IdfTable& table, QObject* parent) : QAbstractTableModel(parent), table_(table) {}

    // Replaces the columns; the rows are read again as well.
    void setTitles(const QStringList& titles) {
        beginResetModel();
        titles_ = titles;
        endResetModel();
    }
    void refresh() {
        beginResetModel();
        endResetModel();
    }

    int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : table_.itemCount(); }
    int columnCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : static_cast<int>(titles_.size());
    }

    // Cells are read from the file when the grid asks for them; nothing is kept here.
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !index.isValid()) return {};
        const IdfItem* item = table_.getItem(index.row());
        if (!item) return QStringLiteral("Item name");
        if (static_cast<uint32_t>(index.column()) >= item->recordCount) return QString();
        return fromFileText(item->records[index.column()].value);
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || section < 0 || section >= titles_.size()) return {};
        if (role == Qt::DisplayRole) return titles_[section];
        if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
        return {};
    }

private:
    IdfTable& table_;
    QStringList titles_;
};

namespace {

// A borderless one-line box at the mouse: the text field, "cancel" and the default "ok!".
class EditDialog : public QDialog {
public:
    EditDialog(const QString& text, QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
        edit_ = new QLineEdit(text, this);
        edit_->setObjectName("edit");
        // A field holds 63 characters; refusing more here shows the user what will be stored.
        edit_->setMaxLength(kIdfTextSize - 1);
        auto* cancel = new QPushButton("cancel", this);
        cancel->setObjectName("cancel");
        cancel->setAutoDefault(false);
        auto* ok = new QPushButton("ok!", this);
        ok->setObjectName("ok");
        ok->setDefault(true);
        auto* row = new QHBoxLayout(this);
        row->setContentsMargins(1, 0, 0, 0);
        row->setSpacing(3);
        row->addWidget(edit_, 132);
        row->addWidget(cancel, 49);
        row->addWidget(ok, 49);
        connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
        connect(ok, &QPushButton::clicked, this, &QDialog::accept);
        // 235 x 14 dialog units of an 8-point font.
        setFixedSize(353, 24);
        const QPoint mouse = QCursor::pos();
        move(std::max(0, mouse.x() - width() / 2), std::max(0, mouse.y() - height() / 2));
    }
    QString text() const { return edit_->text(); }

private:
    QLineEdit* edit_;
};

} // namespace

LedgerWindow::LedgerWindow(IdfTable& table, QWidget* parent) : QMainWindow(parent), table_(table) {
    setWindowTitle("item_maker");
    resize(500, 400);
    move(0, 0);

    model_ = new ItemGridModel(table_, this);
    grid_ = new QTableView(this);
    grid_->setModel(model_);
    grid_->setShowGrid(true);
    grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid_->setSelectionMode(QAbstractItemView::SingleSelection);
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->verticalHeader()->hide();
    // Rows as dense as a list: one line of text each.
    grid_->verticalHeader()->setDefaultSectionSize(grid_->fontMetrics().height() + 4);
    grid_->horizontalHeader()->setDefaultSectionSize(100);
    grid_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    grid_->setContextMenuPolicy(Qt::CustomContextMenu);
    grid_->installEventFilter(this);
    setCentralWidget(grid_);
    connect(grid_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        const QModelIndex index = grid_->indexAt(at);
        if (index.isValid()) showRecordPopup(index.row(), Purpose::EditValue);
    });

    QMenu* file = menuBar()->addMenu("File");
    file->addAction("New", this, &LedgerWindow::newFile);
    file->addAction("Open", this, &LedgerWindow::openFile);
    file->addAction("Save", this, &LedgerWindow::saveFile);
    file->addAction("Exit", this, &QWidget::close);
    QMenu* item = menuBar()->addMenu("Item");
    item->addAction("New", this, &LedgerWindow::newItem);
    item->addAction("Delete", this, &LedgerWindow::deleteItem);
    item->addAction("Clon", this, &LedgerWindow::cloneItem);
    item->addAction("Move to the top", this, &LedgerWindow::moveToTop);
    item->addSeparator();
    item->addAction("New Record", this, &LedgerWindow::newRecord);
    item->addAction("Delete Record", this, &LedgerWindow::deleteRecord);
    item->addAction("Clon Record");  // kept in the menu, does nothing
    QMenu* view = menuBar()->addMenu("View");
    QAction* header = view->addAction("Header mode", this, &LedgerWindow::toggleHeaderMode);
    header->setCheckable(true);

    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::close);

    setDefaultColumns();
}

void LedgerWindow::setDefaultColumns() { model_->setTitles({"Item name", "Class"}); }

void LedgerWindow::setColumns() {
    QStringList titles;
    const IdfItem* first = headerMode_ ? table_.getItem(0) : nullptr;
    // Never fewer than the two columns every item starts with: a new or emptied file has a widest item
    // of 0, and its new items must still show.
    const int columns = std::max(table_.widestItem(), 2);
    for (int c = 0; c < columns; ++c) {
        if (first && static_cast<uint32_t>(c) < first->recordCount) {
            titles << fromFileText(first->records[c].key);
        } else if (!headerMode_ && c < 2) {
            titles << (c == 0 ? "Item name" : "Class");
        } else {
            titles << "Record";
        }
    }
    model_->setTitles(titles);
}

void LedgerWindow::refreshRows() { model_->refresh(); }

int LedgerWindow::selectedRow() const {
    const QModelIndexList rows = grid_->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void LedgerWindow::setUpFileDialog(QFileDialog& dialog) const {
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setNameFilter("Item Data File Format (*.idf)");
    dialog.setDefaultSuffix("idf");
    if (!lastPath_.isEmpty()) dialog.selectFile(lastPath_);
}

bool LedgerWindow::openPath(const QString& path) {
    if (!table_.openForEdit(QFile::encodeName(path).constData())) {
        setDefaultColumns();
        QMessageBox::warning(this, "item_maker", QString("Cannot open %1 as an item data file.").arg(path));
        return false;
    }
    lastPath_ = path;
    setColumns();
    refreshRows();
    if (table_.isDamaged()) {
        QMessageBox::warning(this, "item_maker",
                             QString("%1 is damaged after item %2. Only the items before the damage are shown; "
                                     "the next change to the item list drops the rest.")
                                 .arg(path)
                                 .arg(table_.itemCount()));
    }
    return true;
}

void LedgerWindow::newFile() {
    QFileDialog dialog(this, "New");
    setUpFileDialog(dialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    lastPath_ = dialog.selectedFiles().first();
    table_.create(QFile::encodeName(lastPath_).constData());
    setDefaultColumns();
}

void LedgerWindow::openFile() {
    QFileDialog dialog(this, "Open");
    setUpFileDialog(dialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    const QString path = dialog.selectedFiles().first();
    if (!QFileInfo::exists(path)) {
        const auto answer = QMessageBox::question(this, "Open", QString("%1 does not exist. Create it?").arg(path));
        if (answer != QMessageBox::Yes) return;
        if (!table_.create(QFile::encodeName(path).constData())) {
            QMessageBox::warning(this, "item_maker", QString("Cannot create %1.").arg(path));
            return;
        }
    }
    openPath(path);
}

void LedgerWindow::saveFile() {
    // Every edit is already on disk; the dialog only lets the user pick the name to remember.
    QFileDialog dialog(this, "Save");
    setUpFileDialog(dialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        lastPath_ = dialog.selectedFiles().first();
}

void LedgerWindow::newItem() {
    table_.newItem();
    refreshRows();
}

void LedgerWindow::deleteItem() {
    const int row = selectedRow();
    if (row < 0) return;
    table_.deleteItem(row);
    refreshRows();
}

void LedgerWindow::cloneItem() {
    const int row = selectedRow();
    if (row < 0) return;
    table_.cloneItem(row);
    refreshRows();
}

void LedgerWindow::moveToTop() {
    const int row = selectedRow();
    if (row < 0) return;
    table_.moveToTop(row);
    refreshRows();
}

void LedgerWindow::newRecord() {
    const int row = selectedRow();
    if (row < 0) return;
    const QString text = runEditDialog(QString());
    // Cancel adds nothing.
    if (text.isNull()) return;
    table_.addRecord(row, text.toLatin1().constData());
    setColumns();
    refreshRows();
}

void LedgerWindow::deleteRecord() {
    const int row = selectedRow();
    if (row >= 0) showRecordPopup(row, Purpose::DeleteRecord);
}

void LedgerWindow::toggleHeaderMode() {
    headerMode_ = !headerMode_;
    setColumns();
    refreshRows();
}

void LedgerWindow::showRecordPopup(int item, Purpose purpose) {
    const IdfItem* records = table_.getItem(item);
    if (!records) return;
    QMenu popup(this);
    for (uint32_t r = 0; r < records->recordCount; ++r) {
        const IdfRecord& shown = records->records[r];
        QAction* entry = popup.addAction(QString("%1 - %2").arg(fromFileText(shown.key), fromFileText(shown.value)));
        entry->setData(static_cast<int>(r));
    }
    const QAction* chosen = popup.exec(QCursor::pos());
    if (!chosen) return;
    const int record = chosen->data().toInt();
    if (purpose == Purpose::EditValue) {
        const IdfItem* current = table_.getItem(item);
        if (!current || static_cast<uint32_t>(record) >= current->recordCount) return;
        const QString text = runEditDialog(fromFileText(current->records[record].value));
        if (text.isNull()) return;
        table_.setValue(item, record, text.toLatin1().constData());
        refreshRows();
    } else {
        table_.deleteRecord(item, record);
        setColumns();
        refreshRows();
    }
}

QString LedgerWindow::runEditDialog(const QString& startText) {
    EditDialog dialog(startText, this);
    if (dialog.exec() != QDialog::Accepted) return QString();
    // A confirmed empty text is still a text, not a cancel.
    const QString text = dialog.text();
    return text.isNull() ? QString("") : text;
}

bool LedgerWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == grid_ && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
        deleteItem();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}
