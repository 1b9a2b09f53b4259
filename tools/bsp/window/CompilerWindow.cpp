#include "tools/bsp/window/CompilerWindow.h"

#include "tools/bsp/import/import.h"
#include "tools/bsp/window/WindowPrompts.h"

#include <algorithm>
#include <mutex>
#include <utility>

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDialog>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

namespace {

const char kWindowTitle[] = "QLF editor";
const char kSceneFilter[] = "Quarry Final (*.qlf)";
const char kModelFilter[] = "quarry file format (*.qff)";
const char kImportFilter[] = "Models (*.gltf *.glb *.obj *.dae *.fbx *.3ds *.ply *.stl *.blend *.x *.lwo *.ase);;All files (*)";
// How often the status bar's clock moves while an operation runs.
constexpr int kElapsedTickMs = 200;

QByteArray filePath(const QString& path) { return QFile::encodeName(path); }

// Every file dialog of the tool starts in the current directory.
FileRequest fileRequest(bool save, const char* caption, const char* filter, const char* suffix,
                        const QString& startName) {
    FileRequest request;
    request.save = save;
    request.caption = caption;
    request.filter = filter;
    request.defaultSuffix = suffix;
    request.directory = QDir::currentPath();
    request.startName = startName;
    return request;
}

const char* operationName(int operation) {
    static const char* const names[] = {"Export textures", "Create BSP", "Calculate normals", "First optimization"};
    return names[operation];
}

// "options": the two BSP build switches and "Ok"; the window keeps what Ok confirms.
class OptionsDialog : public QDialog {
public:
    OptionsDialog(QWidget* parent, const compiler::BspOptions& options) : QDialog(parent) {
        setWindowTitle("options");
        fastBuild_ = new QCheckBox("fast build", this);
        fastBuild_->setChecked(options.fastBuild);
        fastLoad_ = new QCheckBox("fast load", this);
        fastLoad_->setChecked(options.fastLoad);
        auto* ok = new QPushButton("Ok", this);
        ok->setDefault(true);
        connect(ok, &QPushButton::clicked, this, &QDialog::accept);
        auto* column = new QVBoxLayout(this);
        column->addWidget(fastBuild_);
        column->addWidget(fastLoad_);
        column->addWidget(ok);
    }
    void store(compiler::BspOptions* options) const {
        options->fastBuild = fastBuild_->isChecked();
        options->fastLoad = fastLoad_->isChecked();
    }

private:
    QCheckBox* fastBuild_;
    QCheckBox* fastLoad_;
};

} // namespace

// Carries what an operation reports to the window. Operations call it on whatever thread runs them; the
// calls reach the widgets queued, in order. Log lines are gathered and written in bursts, so that a file
// with thousands of broken triangles (one line each) costs one edit of the log rather than thousands.
class WindowProgress : public compiler::Progress {
public:
    explicit WindowProgress(CompilerWindow* window) : window_(window) {}

    void logLine(const char* text) override {
        bool first;
        {
            std::lock_guard<std::mutex> lock(pendingMutex_);
            first = pendingLines_.isEmpty();
            pendingLines_ << QString::fromLocal8Bit(text);
        }
        if (first) QMetaObject::invokeMethod(window_, [window = window_] { window->flushLog(); }, Qt::QueuedConnection);
    }
    // The lines not yet written, oldest first.
    QStringList takeLines() {
        std::lock_guard<std::mutex> lock(pendingMutex_);
        return std::exchange(pendingLines_, QStringList());
    }
    void titleText(const char* text) override {
        QMetaObject::invokeMethod(window_, [window = window_, title = QString::fromLocal8Bit(text)] {
            window->setWindowTitle(title);
        });
    }
    // The build's estimate of its work can run past 100% on deep trees; the bar then stays full.
    void progressValue(int permille) override {
        QMetaObject::invokeMethod(window_, [window = window_, permille = std::clamp(permille, 0, 1000)] {
            window->progressBar()->setValue(permille);
        });
    }

private:
    CompilerWindow* window_;
    std::mutex pendingMutex_;
    QStringList pendingLines_;
};

CompilerWindow::CompilerWindow(WindowPrompts& prompts, QWidget* parent)
    : QMainWindow(parent), prompts_(prompts), progress_(std::make_unique<WindowProgress>(this)) {
    setWindowTitle(kWindowTitle);
    move(300, 200);
    resize(350, 450);
    setAcceptDrops(true);

    log_ = new QPlainTextEdit(this);
    log_->setReadOnly(true);
    log_->setLineWrapMode(QPlainTextEdit::NoWrap);
    log_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    log_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Drops belong to the window, not to the text.
    log_->setAcceptDrops(false);
    setCentralWidget(log_);

    elapsedLabel_ = new QLabel(this);
    progressBar_ = new QProgressBar(this);
    progressBar_->setRange(0, 1000);
    progressBar_->setValue(0);
    progressBar_->setMaximumWidth(120);
    statusBar()->addWidget(elapsedLabel_, 1);
    statusBar()->addPermanentWidget(progressBar_);
    elapsedTicker_ = new QTimer(this);
    elapsedTicker_->setInterval(kElapsedTickMs);
    connect(elapsedTicker_, &QTimer::timeout, this, [this] { showElapsed("running"); });

    buildMenus();
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::close);
    setCommandState(CommandState::NoScene);
}

CompilerWindow::~CompilerWindow() {
    if (worker_.joinable()) {
        progress_->requestBreak();
        worker_.join();
    }
}

compiler::Progress& CompilerWindow::progressSink() { return *progress_; }

void CompilerWindow::buildMenus() {
    QMenu* file = menuBar()->addMenu("&File");
    open_ = file->addAction("&Open", this, &CompilerWindow::openFile);
    import_ = file->addAction("&Import...", this, &CompilerWindow::importFile);
    save_ = file->addAction("&Save", this, &CompilerWindow::saveFile);
    exportAs_ = file->addAction("&Export as...", this, &CompilerWindow::exportModelAs);
    exportTextures_ = file->addAction("&Export textures", this, [this] { startOperation(Operation::ExportTextures); });
    file->addSeparator();
    file->addAction("E&xit", this, &QWidget::close);

    QMenu* action = menuBar()->addMenu("&Action");
    break_ = action->addAction("Brea&k!", this, &CompilerWindow::breakOperation);
    createBsp_ = action->addAction("Create &BSP", this, [this] { startOperation(Operation::CreateBsp); });
    normals_ = action->addAction("Calculate &normals", this, [this] { startOperation(Operation::Normals); });
    firstOptimization_ = action->addAction("&First optimization", this, [this] { startOperation(Operation::Merge); });

    QMenu* options = menuBar()->addMenu("&Options");
    options_ = options->addAction("&BSP", this, &CompilerWindow::showOptions);
}

void CompilerWindow::setCommandState(CommandState state) {
    const bool scene = state == CommandState::SceneOpened || state == CommandState::SceneWorked;
    for (QAction* command : {createBsp_, normals_, firstOptimization_, options_, exportTextures_, exportAs_})
        command->setEnabled(scene);
    // Save waits for a first operation; until then the file holds what the scene holds.
    save_->setEnabled(state == CommandState::SceneWorked);
    open_->setEnabled(state != CommandState::Running);
    import_->setEnabled(state != CommandState::Running);
    break_->setEnabled(state == CommandState::Running);
}

// --- Log ------------------------------------------------------------------------------------------------

void CompilerWindow::appendLog(const QString& line) {
    flushLog();
    writeLogLines({line});
}

void CompilerWindow::flushLog() {
    const QStringList lines = progress_->takeLines();
    if (!lines.isEmpty()) writeLogLines(lines);
}

void CompilerWindow::writeLogLines(QStringList lines) {
    // Only the newest lines that fit are inserted; a line longer than the whole log keeps its start.
    for (QString& line : lines) line.truncate(kLogLimit);
    qsizetype length = lines.last().size();
    qsizetype first = lines.size() - 1;
    while (first > 0 && length + 1 + lines[first - 1].size() <= kLogLimit) length += 1 + lines[--first].size();
    log_->appendPlainText(lines.mid(first).join('\n'));

    // Then the oldest whole lines go, in one edit. The document counts one separator per line, the last
    // line's included.
    QTextDocument* text = log_->document();
    int excess = text->characterCount() - 1 - kLogLimit;
    if (excess > 0) {
        QTextBlock keep = text->firstBlock();
        while (excess > 0 && keep.next().isValid()) {
            excess -= keep.length();
            keep = keep.next();
        }
        QTextCursor oldest(text);
        oldest.setPosition(keep.position(), QTextCursor::KeepAnchor);
        oldest.removeSelectedText();
    }
    log_->moveCursor(QTextCursor::End);
    log_->ensureCursorVisible();
}

// --- Open, Save, Export ---------------------------------------------------------------------------------

QString CompilerWindow::promptTitle() const { return path_.isEmpty() ? QString(kWindowTitle) : path_; }

void CompilerWindow::openFile() {
    if (isBusy() || !confirmDiscard()) return;
    const QString path = chooseSceneToOpen();
    if (!path.isEmpty()) openUntilRead(path);
}

// A model in another program's format becomes a working file (named by the user, textures beside it),
// which is then opened as the current scene.
void CompilerWindow::importFile() {
    if (isBusy() || !confirmDiscard()) return;
    const QString model = prompts_.chooseFile(this, fileRequest(false, "Import", kImportFilter, "", QString()));
    if (model.isEmpty()) return;
    const QString output = prompts_.chooseFile(
        this, fileRequest(true, "Save imported scene as", kSceneFilter, "qlf", QFileInfo(model).completeBaseName() + ".qlf"));
    if (output.isEmpty()) return;
    std::string error;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool imported = importer::importModel(filePath(model).constData(), filePath(output).constData(), {}, *progress_, &error);
    QApplication::restoreOverrideCursor();
    flushLog();
    if (imported) openUntilRead(output);
    else prompts_.warn(this, "Can't import model", QString::fromLocal8Bit(error.c_str()));
}

void CompilerWindow::openPath(const QString& path) {
    if (isBusy() || !confirmDiscard()) return;
    openUntilRead(path);
}

QString CompilerWindow::chooseSceneToOpen() {
    const FileRequest request = fileRequest(false, "Open", kSceneFilter, "qlf", QString());
    for (;;) {
        const QString path = prompts_.chooseFile(this, request);
        if (path.isEmpty() || QFileInfo::exists(path)) return path;
        const auto answer = prompts_.ask(this, "Open", QString("%1 does not exist. Create it?").arg(path),
                                         QMessageBox::Yes | QMessageBox::No);
        // No, or a file that cannot be made, goes back to the dialog.
        if (answer == QMessageBox::Yes && createEmptyScene(path)) return path;
    }
}

bool CompilerWindow::createEmptyScene(const QString& path) {
    compiler::Scene empty;
    empty.lods.resize(1);
    return compiler::writeScene(filePath(path).constData(), empty, *progress_);
}

void CompilerWindow::openUntilRead(QString path) {
    for (;;) {
        scene_.reset();
        modified_ = false;
        path_ = path;
        auto scene = std::make_unique<compiler::Scene>();
        std::string error;
        if (compiler::readScene(filePath(path).constData(), scene.get(), *progress_, &error)) {
            scene_ = std::move(scene);
            compiler::logSceneSummary(filePath(path).constData(), *scene_, *progress_);
            flushLog();
            setCommandState(CommandState::SceneOpened);
            return;
        }
        path_.clear();
        setCommandState(CommandState::NoScene);
        flushLog();
        prompts_.warn(this, "Can't open qlf file", path + "\n" + QString::fromLocal8Bit(error.c_str()));
        path = chooseSceneToOpen();
        if (path.isEmpty()) return;
    }
}

void CompilerWindow::saveFile() {
    if (scene_ && !isBusy()) saveScene();
    flushLog();
}

bool CompilerWindow::saveScene() {
    if (compiler::writeScene(filePath(path_).constData(), *scene_, *progress_)) {
        modified_ = false;
        return true;
    }
    return saveSceneAs();
}

bool CompilerWindow::saveSceneAs() {
    const FileRequest request = fileRequest(true, "Save as", kSceneFilter, "qlf", path_);
    for (;;) {
        const QString path = prompts_.chooseFile(this, request);
        if (path.isEmpty()) return false;
        if (compiler::writeScene(filePath(path).constData(), *scene_, *progress_)) {
            path_ = path;
            modified_ = false;
            return true;
        }
    }
}

bool CompilerWindow::confirmDiscard() {
    if (!modified_ || !scene_) return true;
    switch (prompts_.ask(this, promptTitle(), "Save?", QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel)) {
    case QMessageBox::Yes: return saveScene();
    case QMessageBox::No: return true;
    default: return false;
    }
}

void CompilerWindow::exportModelAs() {
    if (!scene_ || isBusy()) return;
    // scene.qlf is exported as scene.qff beside it.
    QString start = path_;
    if (start.endsWith(".qlf", Qt::CaseInsensitive)) start.chop(4);
    const FileRequest request = fileRequest(true, "Export as", kModelFilter, "qff", start + ".qff");
    for (;;) {
        const QString path = prompts_.chooseFile(this, request);
        if (path.isEmpty() || compiler::exportModel(filePath(path).constData(), *scene_, *progress_)) break;
    }
    setWindowTitle(kWindowTitle);
    progressBar_->setValue(0);
    flushLog();
}

// --- Options and break ----------------------------------------------------------------------------------

void CompilerWindow::showOptions() {
    if (isBusy()) return;
    OptionsDialog dialog(this, bspOptions_);
    if (prompts_.runDialog(dialog)) dialog.store(&bspOptions_);
}

void CompilerWindow::breakOperation() {
    if (!isBusy()) return;
    if (prompts_.ask(this, promptTitle(), "Stop this operation?", QMessageBox::Yes | QMessageBox::No) ==
        QMessageBox::Yes)
        progress_->requestBreak();
}

// --- Worker ---------------------------------------------------------------------------------------------

void CompilerWindow::startOperation(Operation operation) {
    if (!scene_ || isBusy()) return;
    progress_->clearBreak();
    operation_ = operation;
    mergedScene_.reset();
    operationSucceeded_ = false;
    setCommandState(CommandState::Running);
    progressBar_->setValue(0);
    elapsed_.start();
    showElapsed("running");
    elapsedTicker_->start();
    worker_ = std::thread([this, operation, options = bspOptions_] {
        runOperation(operation, options);
        QMetaObject::invokeMethod(this, [this] { finishOperation(); }, Qt::QueuedConnection);
    });
}

void CompilerWindow::runOperation(Operation operation, compiler::BspOptions options) {
    switch (operation) {
    case Operation::ExportTextures:
        operationSucceeded_ = compiler::exportTextures(*scene_, *progress_, true) == int(scene_->textures.size());
        break;
    case Operation::CreateBsp: operationSucceeded_ = compiler::createBsp(scene_.get(), options, *progress_, true); break;
    case Operation::Normals:
        compiler::computeNormals(scene_.get(), *progress_, true);
        operationSucceeded_ = true;
        break;
    case Operation::Merge:
        mergedScene_ = std::make_unique<compiler::Scene>(compiler::mergeObjects(*scene_, *progress_, true));
        operationSucceeded_ = true;
        break;
    }
}

void CompilerWindow::finishOperation() {
    worker_.join();
    flushLog();
    elapsedTicker_->stop();
    const bool broken = progress_->breakRequested();
    progress_->clearBreak();
    setWindowTitle(kWindowTitle);
    if (broken) {
        // The BSP build says so itself; a merge ran to its end and loses its result here; normals and texture
        // export cannot stop part-way, so what they did stays.
        if (operation_ == Operation::Merge)
            appendLog("First optimization was broken: the scene is unchanged.");
        else if (operation_ != Operation::CreateBsp)
            appendLog(QString("%1 cannot be stopped: it ran to its end.").arg(operationName(int(operation_))));
        mergedScene_.reset();
    } else if (operation_ == Operation::Merge) {
        scene_ = std::move(mergedScene_);
    }
    // What changed the scene: a merge that was kept, normals (computed in place, never broken off) and a
    // tree that was stored.
    if ((operation_ == Operation::Merge && !broken) || operation_ == Operation::Normals ||
        (operation_ == Operation::CreateBsp && operationSucceeded_))
        modified_ = true;
    progressBar_->setValue(broken ? 0 : 1000);
    showElapsed(broken ? "broken" : operationSucceeded_ ? "done" : "failed");
    setCommandState(CommandState::SceneWorked);
    if (closeWhenDone_) {
        closeWhenDone_ = false;
        close();
    }
}

void CompilerWindow::showElapsed(const char* state) {
    const double seconds = double(elapsed_.elapsed()) / 1000.0;
    elapsedLabel_->setText(QString("%1: %2, %3 s").arg(operationName(int(operation_)), state).arg(seconds, 0, 'f', 1));
}

// --- Closing and drops ----------------------------------------------------------------------------------

void CompilerWindow::closeEvent(QCloseEvent* event) {
    if (isBusy()) {
        // The scene must outlive the worker: close once the operation has stopped.
        event->ignore();
        if (closeWhenDone_) return;
        if (prompts_.ask(this, promptTitle(), "Stop this operation?", QMessageBox::Yes | QMessageBox::No) !=
            QMessageBox::Yes)
            return;
        closeWhenDone_ = true;
        progress_->requestBreak();
        // The worker may have ended while the question was open.
        if (!isBusy()) QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        return;
    }
    closeWhenDone_ = false;
    if (!confirmDiscard()) {
        event->ignore();
        return;
    }
    scene_.reset();
    event->accept();
}

void CompilerWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls() && !isBusy()) event->acceptProposedAction();
}

void CompilerWindow::dropEvent(QDropEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.isEmpty() || !urls.first().isLocalFile() || isBusy()) return;
    event->acceptProposedAction();
    openPath(urls.first().toLocalFile());
}

int runCompilerWindow(int argc, char** argv) {
    QApplication application(argc, argv);
    WindowPrompts prompts;
    CompilerWindow window(prompts);
    window.show();
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() > 1) window.openPath(arguments.at(1));
    return QApplication::exec();
}
