// The window as a desktop program: access keys from the language files,
// keys that move, start and delete the selected task, links dropped or
// pasted that become tasks, copied addresses offered as tasks, and a close
// that leaves the program in the tray.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QMenuBar>
#include <QMimeData>
#include <QTableView>
#include <QTest>
#include <QToolBar>
#include <QUrl>
#include <fstream>

#include "app/command_ids.h"
#include "gui/access_keys.h"
#include "gui/clipboard_watch.h"
#include "gui/link_drop.h"
#include "gui/main_window.h"
#include "platform/registry.h"
#include "settings/registry_paths.h"
#include "task/progress_file.h"
#include "tests/app/frame_fixture.h"

namespace vardane::test {
namespace {

TEST(AccessKeys, MarkALetterOfTheTextOrAppendIt) {
    const struct {
        const char* text;
        const char* letter;
        const char* marked;
    } cases[] = {
        {"File", "F", "&File"},
        {"Import List...", "I", "&Import List..."},
        {"Stop All", "A", "Stop &All"},  // a word's start before an earlier letter
        {"Stop", "O", "St&op"},
        {"导入列表...", "I", "导入列表(&I)..."},
        {"文件", "F", "文件(&F)"},
        {"Sound & light", "L", "Sound && &light"},  // a '&' of the text stays one
        {"Start", "", "Start"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(gui::WithAccessKey(c.text, c.letter).toStdString(), c.marked) << c.text;
    }
}

TEST(DroppedLinks, DownloadAddressesOfTextAndUrlLists) {
    gui::DroppedLinks links = gui::LinksInText(
        "see <http://a.example/x.zip>, ftp://u:p@b.example/pub/y.iso\n"
        "http://a.example/x.zip http://a.example/dir/ mailto:x@y file.txt");
    EXPECT_EQ(links.Addresses, (std::vector<std::string>{"http://a.example/x.zip",
                                                         "ftp://u:p@b.example/pub/y.iso"}));
    EXPECT_TRUE(links.ListFiles.empty());

    QMimeData data;
    data.setUrls({QUrl("https://c.example/z.tar.gz"), QUrl::fromLocalFile("/tmp/list.TXT"),
                  QUrl::fromLocalFile("/tmp/movie.mkv")});
    data.setText("http://ignored.example/when-urls-are-there.bin");
    links = gui::LinksOf(data);
    EXPECT_EQ(links.Addresses, std::vector<std::string>{"https://c.example/z.tar.gz"});
    EXPECT_EQ(links.ListFiles, std::vector<std::string>{"/tmp/list.TXT"});
}

TEST(ClipboardWatch, OffersOneNewAddressOnlyWhenAsked) {
    const struct {
        bool on;
        const char* text;
        const char* last;
        const char* offered;
    } cases[] = {
        {true, "  http://a.example/x.zip\n", "", "http://a.example/x.zip"},
        {false, "http://a.example/x.zip", "", ""},
        {true, "http://a.example/x.zip", "http://a.example/x.zip", ""},  // offered already
        {true, "http://a.example/x.zip http://a.example/y.zip", "", ""},
        {true, "just some words", "", ""},
        {true, "http://a.example/", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(gui::AddressToOffer(c.on, c.text, c.last), c.offered) << c.text;
    }
}

class DesktopWindowTest : public FrameTest {
  protected:
    void Open() {
        CreateFrame();
        window = std::make_unique<gui::MainWindow>(*frame, [this] { ++closes; });
        host.modelChanged = [this](unsigned parts) { window->Render(parts); };
        window->SetLinkHandler([this](const gui::DroppedLinks& links) {
            gui::TakeLinks(links, *ctx, *frame, questions,
                           [this](const std::string& url) { frame->OnAddressHandedOver(url); });
        });
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        QApplication::processEvents();
    }
    void TearDown() override {
        host.modelChanged = nullptr;
        window.reset();
    }
    void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(window->TaskTable().viewport(), key, modifiers);
        QApplication::processEvents();
    }
    std::vector<std::string> Urls(TaskList list) {
        std::vector<std::string> urls;
        for (const std::string& id : ListIds(list)) {
            urls.push_back(ReadProgress(ProgressFilePath(dir.Path(), id)).BaseURL);
        }
        return urls;
    }

    std::unique_ptr<gui::MainWindow> window;
    int closes = 0;
};

TEST_F(DesktopWindowTest, EveryMenuItemHasItsOwnAccessKeyInEveryLanguage) {
    AddTask("1001", "http://127.0.0.1:1/a.bin", TaskState::Completed, TaskList::Completed);
    Open();
    auto check = [this](const char* where) {
        for (QAction* menu : window->menuBar()->actions()) {
            EXPECT_TRUE(menu->text().contains(u'&')) << where << menu->text().toStdString();
            QSet<QChar> letters;
            for (QAction* item : menu->menu()->actions()) {
                if (item->isSeparator()) {
                    continue;
                }
                const QString text = item->text();
                const qsizetype at = text.indexOf(u'&');
                ASSERT_GE(at, 0) << where << text.toStdString();
                EXPECT_FALSE(letters.contains(text[at + 1].toUpper()))
                    << where << " letter used twice: " << text.toStdString();
                letters.insert(text[at + 1].toUpper());
            }
        }
        for (QAction* tool : window->findChild<QToolBar*>()->actions()) {
            EXPECT_TRUE(tool->isSeparator() || !tool->toolTip().isEmpty()) << where;
        }
    };
    check("Downloading");
    frame->View().SelectView(TaskView::Completed);
    check("Completed");
    RegistryKey key(ctx->registry);
    ASSERT_TRUE(key.Open(RegRoot::LocalMachine, kVardaneKey, true));
    key.SetString("CurrentLang", "CHS");
    frame->SettingsChanged();
    check("CHS Completed");
    frame->View().SelectView(TaskView::Downloading);
    check("CHS Downloading");
}

TEST_F(DesktopWindowTest, KeysMoveStartStopAndDeleteTheSelectedTask) {
    AddTasks(3);
    Open();
    SelectIds({"103"});
    window->TaskTable().selectRow(frame->View().FindRow("103"));
    Key(Qt::Key_Up, Qt::ControlModifier);
    EXPECT_EQ(ListIds(TaskList::Downloading), (std::vector<std::string>{"101", "103", "102"}));
    Key(Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(engine.started, std::vector<std::string>{"103"});
    engine.endOnStop = true;
    Key(Qt::Key_T, Qt::ControlModifier);
    EXPECT_EQ(FileState("103"), TaskState::Stopped);
    Key(Qt::Key_Delete);
    EXPECT_EQ(ListIds(TaskList::Deleted), std::vector<std::string>{"103"});
    Key(Qt::Key_A, Qt::ControlModifier);
    Key(Qt::Key_Down, Qt::ControlModifier);  // every row: nothing to move past
    EXPECT_EQ(ListIds(TaskList::Downloading), (std::vector<std::string>{"101", "102"}));
}

TEST_F(DesktopWindowTest, DroppedAndPastedLinksBecomeTasks) {
    Open();
    const std::string list = dir.Path() + "links.txt";
    std::ofstream(list) << "http://127.0.0.1:1/l1.bin\r\n\r\nhttp://127.0.0.1:1/l2.bin\r\n";
    QMimeData data;
    data.setUrls({QUrl("http://127.0.0.1:1/d1.bin"), QUrl("ftp://127.0.0.1:1/d2.bin"),
                  QUrl::fromLocalFile(QString::fromStdString(list))});
    const QPoint at = window->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &drop);
    QApplication::processEvents();
    // The import's confirmation and count, one confirmation for both links.
    EXPECT_EQ(Urls(TaskList::Downloading),
              (std::vector<std::string>{"http://127.0.0.1:1/l1.bin", "http://127.0.0.1:1/l2.bin",
                                        "http://127.0.0.1:1/d1.bin", "ftp://127.0.0.1:1/d2.bin"}));
    EXPECT_EQ(questions.asked.size(), 3u);

    // Refused: nothing is added.
    questions.answer = QuestionAnswer::No;
    QApplication::clipboard()->setText("http://127.0.0.1:1/p1.bin http://127.0.0.1:1/p2.bin");
    Key(Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(ListIds(TaskList::Downloading).size(), 4u);
    // One link: the New task dialog with it.
    QApplication::clipboard()->setText("http://127.0.0.1:1/p3.bin");
    Key(Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(host.newTaskUrls, std::vector<std::string>{"http://127.0.0.1:1/p3.bin"});
}

TEST_F(DesktopWindowTest, CloseHidesToTheTrayWhileAskedAndQuitCloses) {
    Open();
    bool hide = true;
    window->SetHideOnClose([&hide] { return hide; });
    window->close();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(closes, 0);
    window->show();
    window->Quit();
    EXPECT_EQ(closes, 1);
}

}  // namespace
}  // namespace vardane::test
