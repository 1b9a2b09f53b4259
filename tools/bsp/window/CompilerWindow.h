// The world compiler's window ("QLF editor"): a menu, a read-only log filling the window, the title as
// progress display, and a status bar with a progress bar and the time of the last operation. It holds one
// current scene and runs the long commands (texture export, BSP, normals, merging) on one worker thread,
// which reaches the widgets only through queued calls; the window never touches the scene while the
// worker runs, because every command that would is disabled then.
#pragma once

#include "tools/bsp/compiler/compiler.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QStringList>

#include <memory>
#include <thread>

class QAction;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QTimer;
class WindowPrompts;
class WindowProgress;

class CompilerWindow : public QMainWindow {
    Q_OBJECT
public:
    // The log keeps its most recent whole lines within this many characters.
    static constexpr int kLogLimit = 32767;

    // `prompts` answers every dialog and message box and outlives the window.
    explicit CompilerWindow(WindowPrompts& prompts, QWidget* parent = nullptr);
    // Stops a running operation (a break request, then waiting for it) before the scene goes.
    ~CompilerWindow() override;

    // Opens this file without a dialog, as a path argument or a dropped file does (after the save prompt).
    void openPath(const QString& path);

    // The current scene, or null. Not to be touched while an operation runs.
    const compiler::Scene* scene() const { return scene_.get(); }
    QString currentPath() const { return path_; }
    bool isBusy() const { return worker_.joinable(); }
    bool isModified() const { return modified_; }
    const compiler::BspOptions& bspOptions() const { return bspOptions_; }
    QPlainTextEdit* log() const { return log_; }
    QProgressBar* progressBar() const { return progressBar_; }
    QLabel* elapsedLabel() const { return elapsedLabel_; }
    // Where operations report: log lines, titles, progress and the break request. Any thread may use it.
    compiler::Progress& progressSink();

    // Writes the lines the operations have logged so far (they arrive in bursts).
    void flushLog();

public slots:
    void appendLog(const QString& line);
    void openFile();
    void importFile();
    void saveFile();
    void exportModelAs();
    void breakOperation();
    void showOptions();

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    enum class Operation { ExportTextures, CreateBsp, Normals, Merge };
    enum class CommandState { NoScene, SceneOpened, Running, SceneWorked };

    void buildMenus();
    void writeLogLines(QStringList lines);
    void setCommandState(CommandState state);
    // Reads `path`; while that fails, shows why and asks for another file. Leaves no scene on Cancel.
    void openUntilRead(QString path);
    // The open dialog, offering to create a missing file; empty on Cancel.
    QString chooseSceneToOpen();
    bool createEmptyScene(const QString& path);
    // Save, and Save as when that fails; true when the scene was written.
    bool saveScene();
    bool saveSceneAs();
    // With the modified flag set, asks "Save?"; false when the user cancels (or a wanted save did not happen).
    bool confirmDiscard();
    QString promptTitle() const;

    void startOperation(Operation operation);
    // Runs on the worker thread.
    void runOperation(Operation operation, compiler::BspOptions options);
    // Back on the window thread once the worker has ended.
    void finishOperation();
    // "Create BSP: running, 2.4 s" in the status bar.
    void showElapsed(const char* state);

    WindowPrompts& prompts_;
    std::unique_ptr<WindowProgress> progress_;
    std::unique_ptr<compiler::Scene> scene_;
    QString path_;
    bool modified_ = false;
    compiler::BspOptions bspOptions_;

    // The operation on the worker thread and what it hands back; read only after joining it.
    std::thread worker_;
    Operation operation_ = Operation::ExportTextures;
    std::unique_ptr<compiler::Scene> mergedScene_;
    bool operationSucceeded_ = false;
    bool closeWhenDone_ = false;
    QElapsedTimer elapsed_;
    QTimer* elapsedTicker_ = nullptr;

    QPlainTextEdit* log_ = nullptr;
    QProgressBar* progressBar_ = nullptr;
    QLabel* elapsedLabel_ = nullptr;

    QAction* open_ = nullptr;
    QAction* import_ = nullptr;
    QAction* save_ = nullptr;
    QAction* exportAs_ = nullptr;
    QAction* exportTextures_ = nullptr;
    QAction* break_ = nullptr;
    QAction* createBsp_ = nullptr;
    QAction* normals_ = nullptr;
    QAction* firstOptimization_ = nullptr;
    QAction* options_ = nullptr;
};

// The program's window mode: a QApplication, the window, and the file named by the first argument opened.
int runCompilerWindow(int argc, char** argv);
