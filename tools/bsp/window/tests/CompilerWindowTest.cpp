// The compiler's window driven as a user would, on the offscreen platform, over the real compiler and real
// files: menus, the worker thread and its break, drops, the save prompt and the log. Every dialog and
// message box is answered from a script through the window's prompts.
#include "tools/bsp/compiler/tests/TestScenes.h"
#include "tools/bsp/window/CompilerWindow.h"
#include "tools/bsp/window/WindowPrompts.h"
#include "tools/qt_test_main/MenuActions.h"

#include "engine/world/world.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <thread>

using namespace compiler;

namespace {

// Answers from queues and records what was asked. A question with no answer left fails the test.
class ScriptedPrompts : public WindowPrompts {
public:
    std::deque<QString> files;  // an empty text answers Cancel
    std::deque<QMessageBox::StandardButton> answers;
    std::function<bool(QDialog&)> dialogScript;

    std::vector<FileRequest> fileRequests;
    QStringList questions;  // "title: text"
    QStringList warnings;   // "title: text"

    QString chooseFile(QWidget*, const FileRequest& request) override {
        fileRequests.push_back(request);
        if (files.empty()) return {};
        const QString answer = files.front();
        files.pop_front();
        return answer;
    }
    QMessageBox::StandardButton ask(QWidget*, const QString& title, const QString& text,
                                    QMessageBox::StandardButtons) override {
        questions << title + ": " + text;
        if (answers.empty()) {
            ADD_FAILURE() << "unexpected question " << text.toStdString();
            return QMessageBox::Cancel;
        }
        const auto answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void warn(QWidget*, const QString& title, const QString& text) override { warnings << title + ": " + text; }
    bool runDialog(QDialog& dialog) override { return dialogScript ? dialogScript(dialog) : false; }
};

class CompilerWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(directory.isValid());
        window = std::make_unique<CompilerWindow>(prompts);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    void TearDown() override { window.reset(); }

    QString file(const QString& name) const { return directory.filePath(name); }
    // Writes a working file of these objects and returns its path.
    QString writeSceneFile(const QString& name, std::vector<SceneObject> objects, int textureCount = 1) {
        const Scene scene = test::sceneOf(std::move(objects), textureCount);
        Progress silent;
        const QString path = file(name);
        EXPECT_TRUE(writeScene(QFile::encodeName(path).constData(), scene, silent));
        return path;
    }
    QString boxScene(const QString& name = "scene.qlf") {
        return writeSceneFile(name, {test::boxObject({0, 0, 0}, {4, 2, 1})});
    }
    QString scatteredScene(int triangles) { return writeSceneFile("big.qlf", {test::scatteredObject(triangles, 50, 7)}); }

    QAction* action(const QString& menu, const QString& text) { return findMenuAction(window->menuBar(), menu, text); }
    QStringList menuTexts(int menu) {
        QStringList texts;
        for (QAction* a : window->menuBar()->actions().at(menu)->menu()->actions())
            texts << (a->isSeparator() ? "-" : a->text());
        return texts;
    }
    // The commands that are enabled, in menu order.
    QStringList enabledCommands() {
        QStringList enabled;
        for (QAction* top : window->menuBar()->actions())
            for (QAction* a : top->menu()->actions())
                if (!a->isSeparator() && a->isEnabled()) enabled << a->text();
        return enabled;
    }
    QStringList logLines() { return window->log()->toPlainText().split('\n'); }
    bool logged(const QString& line) { return logLines().contains(line); }
    bool waitIdle() {
        QElapsedTimer clock;
        clock.start();
        while (window->isBusy() && clock.elapsed() < 120000) QTest::qWait(5);
        return !window->isBusy();
    }

    QTemporaryDir directory;
    ScriptedPrompts prompts;
    std::unique_ptr<CompilerWindow> window;
};

TEST_F(CompilerWindowTest, TitlePlaceAndMenus) {
    EXPECT_EQ(window->windowTitle(), "QLF editor");
    EXPECT_EQ(window->size(), QSize(350, 450));
    EXPECT_EQ(window->pos(), QPoint(300, 200));
    EXPECT_TRUE(window->acceptDrops());
    EXPECT_TRUE(window->log()->isReadOnly());
    EXPECT_EQ(window->log()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(window->log()->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QStringList top;
    for (QAction* a : window->menuBar()->actions()) top << a->text();
    EXPECT_EQ(top, QStringList({"&File", "&Action", "&Options"}));
    EXPECT_EQ(menuTexts(0), QStringList({"&Open", "&Import...", "&Save", "&Export as...", "&Export textures", "-", "E&xit"}));
    EXPECT_EQ(menuTexts(1), QStringList({"Brea&k!", "Create &BSP", "Calculate &normals", "&First optimization"}));
    EXPECT_EQ(menuTexts(2), QStringList({"&BSP"}));
}

TEST_F(CompilerWindowTest, CommandsEnabledAtStartAfterOpenDuringAndAfterAnOperation) {
    const QStringList sceneCommands = {"&Export as...", "&Export textures", "E&xit",    "Create &BSP",
                                       "Calculate &normals", "&First optimization", "&BSP"};
    EXPECT_EQ(enabledCommands(), QStringList({"&Open", "&Import...", "E&xit"}));

    window->openPath(scatteredScene(1500));
    EXPECT_EQ(enabledCommands(), QStringList({"&Open", "&Import..."}) + sceneCommands);

    action("&Action", "Create &BSP")->trigger();
    EXPECT_EQ(enabledCommands(), QStringList({"E&xit", "Brea&k!"}));
    // A disabled command does nothing even when triggered from code.
    action("&Action", "&First optimization")->trigger();
    prompts.answers = {QMessageBox::Yes};
    action("&Action", "Brea&k!")->trigger();
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(enabledCommands(), QStringList({"&Open", "&Import...", "&Save"}) + sceneCommands);
    EXPECT_EQ(window->windowTitle(), "QLF editor");
}

TEST_F(CompilerWindowTest, PathArgumentOpensWithoutADialogAndLogsTheStatistics) {
    const QString path = writeSceneFile("two.qlf", {test::boxObject({0, 0, 0}, {1, 1, 1}),
                                                   test::gridObject(2, 1, 1, 3, 1)}, 2);
    window->openPath(path);
    EXPECT_TRUE(prompts.fileRequests.empty());
    ASSERT_NE(window->scene(), nullptr);
    EXPECT_EQ(window->currentPath(), path);
    const QStringList lines = logLines();
    const int start = lines.indexOf(path);
    ASSERT_GT(start, 0);
    EXPECT_EQ(lines.mid(start - 1),
              QStringList({"---------", path, "---------", "textures:           2", "LODs:               1",
                           "objects:             2", "triangles:          16", "vertices:           14",
                           "BSP:                  no", "PVS:                  no"}));
}

TEST_F(CompilerWindowTest, DroppingTwoFilesOpensTheFirst) {
    const QString first = boxScene("first.qlf");
    const QString second = boxScene("second.qlf");
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(first), QUrl::fromLocalFile(second)});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &drop);
    EXPECT_EQ(window->currentPath(), first);
    EXPECT_TRUE(logged(first));
    EXPECT_FALSE(logged(second));
    EXPECT_TRUE(prompts.fileRequests.empty());
}

TEST_F(CompilerWindowTest, ImportMakesAModelTheCurrentSceneOrWarnsWhy) {
    QFile model(file("tri.obj"));
    ASSERT_TRUE(model.open(QIODevice::WriteOnly));
    model.write("v 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\nf 1 2 3\nf 2 4 3\n");
    model.close();
    prompts.files = {file("tri.obj"), file("scene.qlf")};
    action("&File", "&Import...")->trigger();
    ASSERT_EQ(prompts.fileRequests.size(), 2u);
    EXPECT_FALSE(prompts.fileRequests[0].save);
    EXPECT_TRUE(prompts.fileRequests[1].save);
    EXPECT_EQ(prompts.fileRequests[1].startName, "tri.qlf");
    ASSERT_NE(window->scene(), nullptr);
    EXPECT_EQ(window->currentPath(), file("scene.qlf"));
    EXPECT_EQ(lodTriangleCount(*window->scene(), 0), 2u);
    EXPECT_TRUE(QFile::exists(file("DefaultMaterial.tga")));  // Assimp's material for a file without one

    prompts.files = {file("scene.qlf"), file("again.qlf")};  // a working file is no model
    action("&File", "&Import...")->trigger();
    ASSERT_EQ(prompts.warnings.size(), 1);
    EXPECT_TRUE(prompts.warnings[0].startsWith("Can't import model: " + file("scene.qlf") + ": ")) << prompts.warnings[0].toStdString();
    EXPECT_FALSE(QFile::exists(file("again.qlf")));
    EXPECT_EQ(window->currentPath(), file("scene.qlf"));  // the open scene stays
}

TEST_F(CompilerWindowTest, AnUnreadableFileWarnsAndAsksAgain) {
    const QString broken = file("broken.qlf");
    QFile out(broken);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write("not a scene");
    out.close();
    const QString good = boxScene();

    // Each failure shows the box, then the dialog again, until a file reads.
    prompts.files = {file("missing.qlf"), good};
    prompts.answers = {QMessageBox::No};  // do not create missing.qlf: back to the dialog
    window->openPath(broken);
    ASSERT_EQ(prompts.warnings.size(), 1);
    EXPECT_TRUE(prompts.warnings[0].startsWith("Can't open qlf file: " + broken)) << prompts.warnings[0].toStdString();
    ASSERT_EQ(prompts.fileRequests.size(), 2u);
    const FileRequest& request = prompts.fileRequests[0];
    EXPECT_FALSE(request.save);
    EXPECT_EQ(request.filter, "Quarry Final (*.qlf)");
    EXPECT_EQ(request.defaultSuffix, "qlf");
    EXPECT_EQ(request.directory, QDir::currentPath());
    EXPECT_EQ(window->currentPath(), good);
    ASSERT_NE(window->scene(), nullptr);

    // Cancel after a failure leaves no scene and the commands of the start.
    window->openPath(broken);
    EXPECT_EQ(prompts.warnings.size(), 2);
    EXPECT_EQ(window->scene(), nullptr);
    EXPECT_EQ(enabledCommands(), QStringList({"&Open", "&Import...", "E&xit"}));
}

TEST_F(CompilerWindowTest, OpenOffersToCreateAMissingFile) {
    const QString fresh = file("fresh.qlf");
    prompts.files = {fresh};
    prompts.answers = {QMessageBox::Yes};
    action("&File", "&Open")->trigger();
    EXPECT_EQ(prompts.questions, QStringList({"Open: " + fresh + " does not exist. Create it?"}));
    ASSERT_NE(window->scene(), nullptr);
    EXPECT_TRUE(QFile::exists(fresh));
    EXPECT_TRUE(logged("objects:             0"));
}

TEST_F(CompilerWindowTest, BreakDuringCreateBsp) {
    struct Case {
        QMessageBox::StandardButton answer;
        bool treeAfter;
    };
    for (const Case& c : {Case{QMessageBox::Yes, false}, Case{QMessageBox::No, true}}) {
        SCOPED_TRACE(c.answer == QMessageBox::Yes ? "Yes" : "No");
        window->openPath(scatteredScene(c.treeAfter ? 300 : 3000));
        action("&Action", "Create &BSP")->trigger();
        prompts.answers = {c.answer};
        action("&Action", "Brea&k!")->trigger();
        EXPECT_EQ(prompts.questions.last(), window->currentPath() + ": Stop this operation?");
        ASSERT_TRUE(waitIdle());
        EXPECT_EQ(logged("BSP creation was broken."), !c.treeAfter);
        EXPECT_EQ(!window->scene()->tree.empty(), c.treeAfter);
        EXPECT_EQ(window->isModified(), c.treeAfter);
        EXPECT_TRUE(window->elapsedLabel()->text().startsWith(c.treeAfter ? "Create BSP: done" : "Create BSP: broken"));
        window->log()->clear();
    }
}

TEST_F(CompilerWindowTest, BreakDuringFirstOptimizationKeepsTheOldScene) {
    // Two objects with one texture merge into one, unless the merge is broken off.
    for (bool broken : {true, false}) {
        SCOPED_TRACE(broken ? "broken" : "finished");
        window->openPath(writeSceneFile("pair.qlf", {test::boxObject({0, 0, 0}, {1, 1, 1}),
                                                    test::boxObject({2, 0, 0}, {3, 1, 1})}));
        const Scene* before = window->scene();
        action("&Action", "&First optimization")->trigger();
        if (broken) {
            prompts.answers = {QMessageBox::Yes};
            action("&Action", "Brea&k!")->trigger();
        }
        ASSERT_TRUE(waitIdle());
        EXPECT_EQ(window->scene() == before, broken);
        EXPECT_EQ(window->scene()->lods[0].objects.size(), broken ? 2u : 1u);
        EXPECT_EQ(window->isModified(), !broken);
        EXPECT_EQ(logged("First optimization was broken: the scene is unchanged."), broken);
        prompts.answers = {QMessageBox::No};  // the next open asks to save the merged scene
        window->log()->clear();
    }
}

TEST_F(CompilerWindowTest, NormalsAndTextureExportRunToTheirEndWhenBroken) {
    struct Case {
        const char* command;
        const char* menu;
        const char* logLine;  // what the operation itself logs
        bool modifies;
    };
    const Case cases[] = {
        {"Calculate &normals", "&Action", "...done", true},
        {"&Export textures", "&File", "t0.tga not found", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        window->openPath(boxScene());
        action(c.menu, c.command)->trigger();
        prompts.answers = {QMessageBox::Yes};
        action("&Action", "Brea&k!")->trigger();
        ASSERT_TRUE(waitIdle());
        EXPECT_TRUE(logged(c.logLine));
        EXPECT_TRUE(logLines().last().endsWith("cannot be stopped: it ran to its end.")) << logLines().last().toStdString();
        EXPECT_EQ(window->isModified(), c.modifies);
        prompts.answers = {QMessageBox::No};  // the next open asks to save the normals
    }
}

TEST_F(CompilerWindowTest, TitleAndProgressBarFollowTheBuild) {
    window->openPath(scatteredScene(800));
    QStringList titles;
    QObject::connect(window.get(), &QWidget::windowTitleChanged, [&](const QString& title) { titles << title; });
    int highest = 0;
    QObject::connect(window->progressBar(), &QProgressBar::valueChanged, [&](int value) { highest = std::max(highest, value); });
    action("&Action", "Create &BSP")->trigger();
    ASSERT_TRUE(waitIdle());
    ASSERT_GE(titles.size(), 3);
    EXPECT_TRUE(titles[0].startsWith("BSP: 0.0%, faces: 800")) << titles[0].toStdString();
    EXPECT_EQ(titles.last(), "QLF editor");
    EXPECT_EQ(highest, 1000);
    EXPECT_TRUE(logged("triangles: 800"));
}

TEST_F(CompilerWindowTest, ExportProposesTheQffNameAndAsksAgainWhileItFails) {
    const QString path = boxScene();
    window->openPath(path);
    const QString model = file("out/scene.qff");
    prompts.files = {file("no/such/folder/scene.qff"), model};
    ASSERT_TRUE(QDir(directory.path()).mkdir("out"));
    action("&File", "&Export as...")->trigger();
    ASSERT_EQ(prompts.fileRequests.size(), 2u);
    const FileRequest& request = prompts.fileRequests[0];
    EXPECT_TRUE(request.save);
    EXPECT_EQ(request.startName, file("scene.qff"));
    EXPECT_EQ(request.filter, "quarry file format (*.qff)");
    EXPECT_EQ(request.defaultSuffix, "qff");
    EXPECT_GT(QFileInfo(model).size(), 44);
    EXPECT_EQ(window->windowTitle(), "QLF editor");
}

TEST_F(CompilerWindowTest, ExportedModelWithItsTreeLoadsInTheEngine) {
    window->openPath(writeSceneFile("room.qlf", {test::boxObject({0, 0, 0}, {4, 2, 1}),
                                                test::gridObject(3, 3, 1, 0.5f, 1)}, 2));
    action("&Action", "Create &BSP")->trigger();
    ASSERT_TRUE(waitIdle());
    const QString model = file("room.qff");
    prompts.files = {model};
    action("&File", "&Export as...")->trigger();
    QFile exported(model);
    ASSERT_TRUE(exported.open(QIODevice::ReadOnly));
    const QByteArray bytes = exported.readAll();

    auto store = std::make_unique<ModelStore>();
    const int32_t handle = loadModelFromBytes(*store, "room.qlf", reinterpret_cast<const uint8_t*>(bytes.constData()),
                                              size_t(bytes.size()));
    ASSERT_GE(handle, 0) << store->lastError;
    EXPECT_EQ(getObjectCount(*store, handle), 2);
    EXPECT_NE(findModel(*store, handle)->tree, nullptr);
    unloadModel(*store, handle);
}

TEST_F(CompilerWindowTest, SaveWritesTheSceneAndRunsSaveAsWhenWritingFails) {
    ASSERT_TRUE(QDir(directory.path()).mkdir("gone"));
    const QString path = writeSceneFile("gone/scene.qlf", {test::boxObject({0, 0, 0}, {1, 1, 1})});
    window->openPath(path);
    action("&Action", "Calculate &normals")->trigger();
    ASSERT_TRUE(waitIdle());
    EXPECT_TRUE(window->isModified());
    ASSERT_TRUE(QDir(file("gone")).removeRecursively());

    const QString moved = file("moved.qlf");
    prompts.files = {moved};
    action("&File", "&Save")->trigger();
    ASSERT_EQ(prompts.fileRequests.size(), 1u);
    EXPECT_EQ(prompts.fileRequests[0].startName, path);
    EXPECT_EQ(window->currentPath(), moved);
    EXPECT_FALSE(window->isModified());
    Scene saved;
    Progress silent;
    std::string error;
    ASSERT_TRUE(readScene(QFile::encodeName(moved).constData(), &saved, silent, &error)) << error;
    EXPECT_NE(saved.lods[0].objects[0].vertices[0].normal[0], 0.0f);
}

TEST_F(CompilerWindowTest, SavePromptAnswers) {
    const QString path = boxScene();
    const QString other = boxScene("other.qlf");
    auto modify = [&] {
        window->openPath(path);
        action("&Action", "Calculate &normals")->trigger();
        ASSERT_TRUE(waitIdle());
        ASSERT_TRUE(window->isModified());
    };
    Progress silent;
    auto savedNormal = [&] {
        Scene saved;
        std::string error;
        EXPECT_TRUE(readScene(QFile::encodeName(path).constData(), &saved, silent, &error));
        return saved.lods[0].objects[0].vertices[0].normal[0];
    };

    // Cancel: Open stops before its dialog.
    modify();
    prompts.answers = {QMessageBox::Cancel};
    action("&File", "&Open")->trigger();
    EXPECT_EQ(prompts.questions.last(), path + ": Save?");
    EXPECT_TRUE(prompts.fileRequests.empty());
    EXPECT_TRUE(window->isModified());

    // No: Open goes on without saving.
    prompts.answers = {QMessageBox::No};
    prompts.files = {other};
    action("&File", "&Open")->trigger();
    EXPECT_EQ(window->currentPath(), other);
    EXPECT_EQ(savedNormal(), 0.0f);

    // Yes: saved first, then opened.
    modify();
    prompts.answers = {QMessageBox::Yes};
    prompts.files = {other};
    action("&File", "&Open")->trigger();
    EXPECT_EQ(window->currentPath(), other);
    EXPECT_NE(savedNormal(), 0.0f);

    // Closing asks too: Cancel keeps the window, No closes it.
    modify();
    prompts.answers = {QMessageBox::Cancel};
    window->close();
    EXPECT_TRUE(window->isVisible());
    prompts.answers = {QMessageBox::No};
    window->activateWindow();
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->scene(), nullptr);
}

TEST_F(CompilerWindowTest, ExitDuringAnOperationBreaksAndClosesWhenItEnds) {
    window->openPath(scatteredScene(3000));
    action("&Action", "Create &BSP")->trigger();
    prompts.answers = {QMessageBox::No};
    action("&File", "E&xit")->trigger();
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->isBusy());

    prompts.answers = {QMessageBox::Yes};
    action("&File", "E&xit")->trigger();
    EXPECT_TRUE(window->isVisible());  // until the worker has ended
    ASSERT_TRUE(waitIdle());
    QTest::qWait(20);
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(logged("BSP creation was broken."));
    EXPECT_EQ(window->scene(), nullptr);
}

TEST_F(CompilerWindowTest, OptionsDialogStoresTheBuildSwitchesOnOk) {
    window->openPath(boxScene());
    QStringList shown;
    auto answer = [&](bool fastBuild, bool fastLoad, bool pressOk) {
        prompts.dialogScript = [&shown, fastBuild, fastLoad, pressOk](QDialog& dialog) {
            shown << dialog.windowTitle();
            for (QCheckBox* box : dialog.findChildren<QCheckBox*>()) {
                shown << box->text() + (box->isChecked() ? " on" : " off");
                box->setChecked(box->text() == "fast build" ? fastBuild : fastLoad);
            }
            if (!pressOk) return false;
            auto* ok = dialog.findChild<QPushButton*>();
            QTest::mouseClick(ok, Qt::LeftButton);
            return dialog.result() == QDialog::Accepted;
        };
        action("&Options", "&BSP")->trigger();
    };
    answer(false, true, true);
    EXPECT_EQ(shown, QStringList({"options", "fast build off", "fast load off"}));
    EXPECT_FALSE(window->bspOptions().fastBuild);
    EXPECT_TRUE(window->bspOptions().fastLoad);
    shown.clear();
    answer(true, false, false);  // closed without Ok: nothing stored
    EXPECT_EQ(shown, QStringList({"options", "fast build off", "fast load on"}));
    EXPECT_TRUE(window->bspOptions().fastLoad);

    // The stored switch reaches the build: with fast load the tree holds the node list (kind 1).
    action("&Action", "Create &BSP")->trigger();
    ASSERT_TRUE(waitIdle());
    ASSERT_GE(window->scene()->tree.size(), 4u);
    EXPECT_EQ(window->scene()->tree[0], 1);
}

TEST_F(CompilerWindowTest, LogKeepsTheMostRecentWholeLinesWithinItsLimit) {
    // Lines written one by one from the window, and a burst logged by an operation on another thread.
    for (bool burst : {false, true}) {
        SCOPED_TRACE(burst ? "burst from a worker" : "one by one");
        window->log()->clear();
        QStringList written;
        for (int i = 0; i < 3000; ++i) written << QString("line %1 of %2").arg(i).arg(burst ? "a burst" : "the log");
        if (burst) {
            std::thread operation([&] {
                for (const QString& line : written) window->progressSink().logLine(line.toLatin1().constData());
            });
            operation.join();
            QTest::qWait(50);
        } else {
            for (const QString& line : written) window->appendLog(line);
        }
        const QString text = window->log()->toPlainText();
        EXPECT_LE(text.size(), CompilerWindow::kLogLimit);
        // Whole lines, the newest last, and no line dropped that would still have fitted.
        const QStringList kept = text.split('\n');
        EXPECT_EQ(kept, written.mid(written.size() - kept.size()));
        EXPECT_GT(text.size() + written[written.size() - kept.size() - 1].size() + 1, CompilerWindow::kLogLimit);
        const QScrollBar* bar = window->log()->verticalScrollBar();
        EXPECT_EQ(bar->value(), bar->maximum());
    }

    // A line longer than the whole log keeps its start and replaces everything.
    window->appendLog(QString(40000, 'x'));
    EXPECT_EQ(window->log()->toPlainText(), QString(CompilerWindow::kLogLimit, 'x'));
}

} // namespace
