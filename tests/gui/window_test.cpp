// The main window over a frame with a scripted engine: the task list follows
// the queue notice by notice, the view's pop-up menu and rows follow a tap
// on the folder tree, and a language switch relabels the window.
#include <QAbstractItemModelTester>
#include <QApplication>
#include <QHeaderView>
#include <QListWidget>
#include <QMenuBar>
#include <QTabWidget>
#include <QTableView>
#include <QTreeWidget>

#include "app/command_ids.h"
#include "gui/main_window.h"
#include "gui/task_list_model.h"
#include "platform/registry.h"
#include "settings/registry_paths.h"
#include "task/progress_file.h"
#include "tests/app/frame_fixture.h"

namespace vardane::test {
namespace {

class WindowTest : public FrameTest {
  protected:
    void Open() {
        CreateFrame();
        window = std::make_unique<gui::MainWindow>(*frame, nullptr);
        host.modelChanged = [this](unsigned parts) { window->Render(parts); };
        tester = std::make_unique<QAbstractItemModelTester>(
            &window->Model(), QAbstractItemModelTester::FailureReportingMode::Fatal);
        QObject::connect(&window->Model(), &QAbstractItemModel::modelReset, [this] { ++resets; });
        QApplication::processEvents();
    }
    void TearDown() override {
        host.modelChanged = nullptr;
        tester.reset();
        window.reset();
    }
    std::vector<std::string> ShownIds() {
        std::vector<std::string> ids;
        for (int r = 0; r < window->Model().rowCount(); ++r) {
            ids.push_back(window->Model().IdAt(r));
        }
        return ids;
    }
    std::vector<std::string> QueueIds(TaskList list) {
        std::vector<std::string> ids;
        for (const QueuedTask& t : frame->Queue().Tasks(list)) {
            ids.push_back(t.Id);
        }
        return ids;
    }
    QString Cell(int row, int column) {
        return window->Model().index(row, column).data().toString();
    }

    std::unique_ptr<gui::MainWindow> window;
    std::unique_ptr<QAbstractItemModelTester> tester;
    int resets = 0;
};

TEST_F(WindowTest, TaskListFollowsTheQueueRowByRowWithoutReset) {
    AddTask("1001", "http://127.0.0.1:1/a.bin");
    AddTask("1002", "http://127.0.0.1:1/b.bin");
    AddTask("1003", "http://127.0.0.1:1/c.bin");
    Open();
    ASSERT_EQ(ShownIds(), (std::vector<std::string>{"1001", "1002", "1003"}));
    EXPECT_EQ(Cell(1, 0), "b.bin");
    int inserted = 0, moved = 0, changed = 0;
    QObject::connect(&window->Model(), &QAbstractItemModel::rowsInserted, [&] { ++inserted; });
    QObject::connect(&window->Model(), &QAbstractItemModel::rowsMoved, [&] { ++moved; });
    QObject::connect(&window->Model(), &QAbstractItemModel::dataChanged, [&] { ++changed; });
    resets = 0;

    // A task added by the new task dialog: one row at the end.
    AddTask("1004", "http://127.0.0.1:1/d.bin");
    frame->TaskAdded("1004", false);
    EXPECT_EQ(inserted, 1);
    EXPECT_EQ(Cell(3, 0), "d.bin");

    // The selected task moves up: its row moves, and stays selected.
    window->TaskTable().selectRow(3);
    frame->MoveTasks({"1004"}, MoveKind::Up);
    EXPECT_GE(moved, 1);
    EXPECT_EQ(ShownIds(), QueueIds(TaskList::Downloading));
    EXPECT_EQ(ShownIds()[2], "1004");
    QModelIndexList selected = window->TaskTable().selectionModel()->selectedRows();
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(window->Model().IdAt(selected[0].row()), "1004");

    // To the bottom and back to the top: the rows follow the list file.
    frame->MoveTasks({"1004"}, MoveKind::Bottom);
    EXPECT_EQ(ShownIds(), QueueIds(TaskList::Downloading));
    frame->MoveTasks({"1004"}, MoveKind::Top);
    EXPECT_EQ(ShownIds(), QueueIds(TaskList::Downloading));
    EXPECT_EQ(ShownIds()[0], "1004");
    EXPECT_EQ(ListIds(TaskList::Downloading), ShownIds());

    // Started: its row changes in place (state icon, speed).
    window->RunCommand(ID_START);
    EXPECT_EQ(engine.started, (std::vector<std::string>{"1004"}));
    EXPECT_GE(changed, 1);
    EXPECT_EQ(resets, 0);

    // Deleted (confirmed): its row goes, the others stay in queue order.
    window->RunCommand(ID_DELETE);
    SlotRunning("1004").EndFromWorker(2);
    QApplication::processEvents();
    EXPECT_EQ(ShownIds(), (std::vector<std::string>{"1001", "1002", "1003"}));
    EXPECT_EQ(resets, 0);
}

TEST_F(WindowTest, TappingAFolderShowsItsTasksAndItsPopupMenu) {
    AddTask("2001", "http://127.0.0.1:1/running.bin");
    AddTask("2002", "http://127.0.0.1:1/done.bin", 1, TaskList::Completed);
    UpdateProgress(ProgressFilePath(dir.Path(), "2002"), [](TaskProgressRecord& r) {
        r.FileSize = "10";
        r.FilePos = "10";
    });
    Open();

    auto commands = [this] {
        std::vector<int> ids;
        for (const MenuEntry& e : window->TaskPopupEntries()) {
            ids.push_back(e.CommandId);
        }
        return ids;
    };
    auto has = [](const std::vector<int>& ids, int id) {
        return std::find(ids.begin(), ids.end(), id) != ids.end();
    };
    EXPECT_TRUE(has(commands(), ID_START));
    EXPECT_EQ(ShownIds(), (std::vector<std::string>{"2001"}));

    const CTreeModel& tree = frame->Folders();
    window->TapFolder(tree.Children(tree.Top())[1]);
    QApplication::processEvents();
    EXPECT_EQ(ShownIds(), (std::vector<std::string>{"2002"}));
    EXPECT_EQ(Cell(0, 1), "100%");
    EXPECT_TRUE(has(commands(), ID_OPEN_FILE));
    EXPECT_FALSE(has(commands(), ID_START));
    // The frame's selection (row 0 of the new view) is the window's too.
    EXPECT_EQ(window->TaskTable().selectionModel()->selectedRows().size(), 1);
}

TEST_F(WindowTest, LanguageSwitchRelabelsTheWindow) {
    Open();
    auto texts = [this] {
        QStringList all = {window->windowTitle()};
        for (QAction* menu : window->menuBar()->actions()) {
            all << menu->text();
            for (QAction* item : menu->menu()->actions()) {
                all << item->text();
            }
        }
        for (int c = 0; c < 5; ++c) {
            all << window->Model().headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
        }
        auto* tabs = window->findChild<QTabWidget*>();
        all << tabs->tabText(0) << tabs->tabText(1);
        all << window->FolderTree().topLevelItem(0)->child(0)->text(0);
        return all;
    };
    const QStringList english = texts();
    ASSERT_TRUE(english.contains("File"));

    CRegistryKey key(ctx->registry);
    ASSERT_TRUE(key.Open(RegRoot::LocalMachine, kVardaneKey, true));
    key.SetString("CurrentLang", "CHS");
    frame->SettingsChanged();
    QApplication::processEvents();

    const QStringList chinese = texts();
    ASSERT_EQ(chinese.size(), english.size());
    EXPECT_TRUE(chinese.contains(QString::fromStdString(ctx->lang.GetLangText("Menu_Main_File"))));
    for (qsizetype i = 1; i < english.size(); ++i) {
        if (!english[i].isEmpty()) {
            EXPECT_NE(english[i], chinese[i]) << "not relabelled: " << english[i].toStdString();
        }
    }
}

// The log list grows line by line as the selected task logs, and follows
// the frame when it starts over (full at 30 lines, or another task).
TEST_F(WindowTest, LogListShowsExactlyTheFramesLines) {
    AddTask("101", "http://127.0.0.1:1/a.bin");
    AddTask("102", "http://127.0.0.1:1/b.bin");
    Open();
    frame->OnCommand(ID_START_ALL);
    SelectIds({"101"});
    auto* list = window->findChild<QListWidget*>(QStringLiteral("logList"));
    ASSERT_NE(list, nullptr);
    auto shown = [list] {
        std::vector<std::string> texts;
        for (int i = 0; i < list->count(); ++i) {
            texts.push_back(list->item(i)->text().toStdString());
        }
        return texts;
    };
    auto expected = [this] {
        std::vector<std::string> texts;
        for (const LogLine& line : frame->LogList()) {
            texts.push_back(line.Text);
        }
        return texts;
    };
    for (int i = 1; i <= 35; ++i) {
        frame->OnTaskLog(
            TaskLogEntry{"101", 0, static_cast<LogKind>(i % 4), "line " + std::to_string(i)});
        ASSERT_EQ(shown(), expected()) << i;
    }
    ASSERT_EQ(shown().size(), 5u);  // started over after 30 lines
    SelectIds({"102"});
    EXPECT_EQ(shown(), expected());
    EXPECT_EQ(shown().size(), 0u);
}

}  // namespace
}  // namespace vardane::test
