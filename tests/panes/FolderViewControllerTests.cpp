#include "PanesTestSupport.h"

#include "../store/LogCapture.h"

#include "UiScenes.h"
#include "kit/QtColor.h"
#include "panes/FolderViewController.h"

#include <QLabel>

#include <optional>

namespace {

struct RecordingFolderDelegate : FolderViewControllerDelegate {
    QList<std::pair<int, QString>> selections;
    QStringList keys;
    bool handlesKeys = true;
    void folderControllerDidSelectStorage(FolderViewController&, int storage, const QString& tag) override
    {
        selections.append({storage, tag});
    }
    bool folderControllerDidKeyDown(FolderViewController&, const KeyEvent& event) override
    {
        keys.append(event.characters);
        return handlesKeys;
    }
};

class PanesSidebar : public PaneTest {
protected:
    void SetUp() override
    {
        core.setColorTheme(0);
        for (const int kind : {NoteTagHashtag, NoteTagMention})
            QDir(Note::linkDirectoryForTag(kind)).removeRecursively();
        controller.setDelegate(&delegate);
    }
    void TearDown() override { core.setColorTheme(0); }

    static void makeTag(int kind, const QString& name, const QByteArray* meta = nullptr)
    {
        const QString folder = Note::linkDirectoryForTag(kind) + QLatin1Char('/') + name;
        QDir().mkpath(folder);
        if (meta)
            TestSupport::writeFile(folder + QStringLiteral("/.meta"), *meta);
    }

    void showAndLoad(int storage = 0, const QString& tag = {})
    {
        controller.view()->resize(220, 600);
        controller.view()->show();
        bool done = false;
        controller.selectStorage(storage, tag, [&](bool reloaded) { done = reloaded; });
        ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return done; }, 10));
        settle();
    }

    int64_t row(int64_t r, int64_t section) { return controller.tableBridge()->rowForRow(r, section); }
    int64_t header(int64_t section) { return controller.tableBridge()->rowForHeader(section); }
    QRect rect(int64_t tableRow) { return controller.tableView()->rectOfRow(tableRow); }
    // The text of an entry or header row.
    QString textAt(int64_t tableRow)
    {
        QWidget* view = controller.tableView()->viewAtRow(tableRow, true);
        if (auto* label = dynamic_cast<QLabel*>(view))
            return label->text();
        return static_cast<FolderEntryCell*>(view)->text();
    }
    QStringList shownHashtags()
    {
        QStringList shown;
        for (qsizetype i = 0; i < controller.hashtags().size(); ++i)
            shown.append(textAt(row(i, FolderViewController::Hashtags)));
        return shown;
    }

    RecordingFolderDelegate delegate;
    FolderViewController controller{core};
};

TEST_F(PanesSidebar, AnEmptyStoreShowsAllAndArchiveWithCollapsedHeaders)
{
    controller.view();
    auto* table = controller.tableView();
    EXPECT_EQ(controller.tableViewNumberOfRowsInSection(*table, FolderViewController::TopPadding), 0);
    EXPECT_EQ(controller.tableViewNumberOfRowsInSection(*table, FolderViewController::BottomPadding), 0);

    showAndLoad(0);
    EXPECT_EQ(controller.selectedStorage(), NoteStorageInbox);
    EXPECT_EQ(controller.tableBridge()->selectedRow(), (IndexPath{FolderViewController::Inbox, 0}));
    EXPECT_EQ(controller.tableBridge()->totalRows(), 6 + 2 + 2);
    EXPECT_EQ(rect(row(0, FolderViewController::TopPadding)).height(), 38);
    EXPECT_EQ(rect(row(0, FolderViewController::BottomPadding)).height(), 20);
    EXPECT_EQ(rect(header(FolderViewController::Hashtags)).height(), 0);
    EXPECT_EQ(rect(header(FolderViewController::Mentions)).height(), 0);
    const QRect inbox = rect(row(0, FolderViewController::Inbox));
    const QRect archive = rect(row(0, FolderViewController::Archive));
    EXPECT_EQ(inbox.top(), 38);
    EXPECT_EQ(archive.top() - inbox.bottom() - 1, 20);
    EXPECT_EQ(textAt(row(0, FolderViewController::Inbox)), "All");
    EXPECT_EQ(textAt(row(0, FolderViewController::Archive)), "Archive");
    EXPECT_TRUE(delegate.selections.isEmpty()); // the selection asked for is not reported back
}

TEST(PanesSidebarTags, AFolderShowsItsMetaSpellingOnlyWhenItIsSound)
{
    const QString replacement(QChar(0xFFFD));
    const struct {
        QString folder;
        std::optional<QByteArray> meta;
        QStringList listed;
    } cases[] = {
        {"todo", "ToDo", {"ToDo"}},
        {"todo", "Other", {"todo"}},
        {"todo", QByteArray(), {"todo"}},
        {"todo", std::nullopt, {"todo"}},
        // Read leniently, "B\xff" would spell the folder's name.
        {"b" + replacement, QByteArray("B\xff"), {"b" + replacement}},
        {".todo", "ToDo", {}},
    };
    int n = 0;
    for (const auto& c : cases) {
        const QString directory = TestSupport::home() + QStringLiteral("/tags%1").arg(n++);
        QDir().mkpath(directory + QLatin1Char('/') + c.folder);
        if (c.meta)
            TestSupport::writeFile(directory + QLatin1Char('/') + c.folder + QStringLiteral("/.meta"), *c.meta);
        EXPECT_EQ(FolderViewController::tagItemsFromDirectory(directory), c.listed) << c.folder.toStdString();
    }
    EXPECT_TRUE(FolderViewController::tagItemsFromDirectory(TestSupport::home() + QStringLiteral("/none")).isEmpty());
}

TEST_F(PanesSidebar, TagFoldersListTheirSpellingSorted)
{
    const QByteArray toDo("ToDo");
    makeTag(NoteTagHashtag, QStringLiteral("todo"), &toDo);
    for (const char* name : {"plan", "bad", "Work"})
        makeTag(NoteTagHashtag, QString::fromLatin1(name));
    TestSupport::writeFile(Note::linkDirectoryForTag(NoteTagHashtag) + QStringLiteral("/.DS"), "x");
    makeTag(NoteTagMention, QStringLiteral("ann"));

    showAndLoad(NoteTagHashtag, QStringLiteral("TODO"));
    EXPECT_EQ(controller.hashtags(), (QStringList{"bad", "plan", "ToDo", "Work"}));
    EXPECT_EQ(controller.mentions(), QStringList{"ann"});
    EXPECT_EQ(shownHashtags(), (QStringList{"#bad", "#plan", "#ToDo", "#Work"}));
    EXPECT_EQ(controller.tableBridge()->selectedRow(), (IndexPath{FolderViewController::Hashtags, 2}));
    EXPECT_EQ(rect(header(FolderViewController::Hashtags)).height(), 48);
    EXPECT_EQ(textAt(header(FolderViewController::Mentions)), "M E N T I O N S");

    QTest::mouseClick(controller.tableView()->viewport(), Qt::LeftButton, {},
                      rect(row(0, FolderViewController::Mentions)).center());
    QTest::mouseClick(controller.tableView()->viewport(), Qt::LeftButton, {},
                      rect(header(FolderViewController::Mentions)).center());
    EXPECT_EQ(delegate.selections, (QList<std::pair<int, QString>>{{NoteTagMention, "ann"}}));
}

TEST_F(PanesSidebar, FindsATagsSpellingByCaseThenByTheBestScore)
{
    for (const char* name : {"garden", "plan", "planets", "work"})
        makeTag(NoteTagHashtag, QString::fromLatin1(name));
    for (const char* name : {"bob", "rob"})
        makeTag(NoteTagMention, QString::fromLatin1(name));
    showAndLoad();
    const struct {
        int storage;
        const char* query;
        const char* found; // null: none
    } cases[] = {
        {NoteTagHashtag, "PLAN", "plan"},    // equal ignoring case beats the fuzzy "planets"
        {NoteTagHashtag, "pl", "plan"},      // 1.6 / 4 above 1.6 / 7
        {NoteTagHashtag, "ts", "planets"},   // the only one scoring
        {NoteTagMention, "ob", "rob"},       // a tie goes to the later entry
        {NoteTagHashtag, "xyz", nullptr},
        {NoteTagMention, "plan", nullptr},   // mentions only
        {NoteStorageInbox, "plan", nullptr}, // not a tag kind
        {NoteTagHashtag, "", nullptr},
    };
    for (const auto& c : cases) {
        const QString found = controller.findTagInStorage(c.storage, QString::fromUtf8(c.query));
        EXPECT_EQ(found.isNull(), c.found == nullptr) << c.query;
        if (c.found) {
            EXPECT_EQ(found, QString::fromUtf8(c.found)) << c.query;
        }
    }
}

TEST_F(PanesSidebar, GoingAwayIsLogged)
{
    const auto capture = LogCapture::install();
    delete new FolderViewController(core);
    const QStringList lines = capture->lines();
    capture->uninstall();
    EXPECT_EQ(lines.count(QStringLiteral("folder:dealloc")), 1) << lines.join('|').toStdString();
}

TEST_F(PanesSidebar, TagEventsGrowAndShrinkTheLists)
{
    showAndLoad();
    core.noteTagDidAddToStorage(QStringLiteral("work"), NoteTagHashtag);
    settle();
    EXPECT_EQ(controller.hashtags(), QStringList{"work"});
    EXPECT_EQ(rect(header(FolderViewController::Hashtags)).height(), 48);
    EXPECT_EQ(textAt(header(FolderViewController::Hashtags)), "H A S H T A G S");

    core.noteTagDidAddToStorage(QStringLiteral("Work"), NoteTagHashtag);
    core.noteTagDidAddToStorage(QStringLiteral("Alpha"), NoteTagHashtag);
    core.noteTagDidAddToStorage(QStringLiteral("ann"), NoteTagMention);
    core.noteTagDidAddToStorage(QStringLiteral("inbox"), NoteStorageInbox);
    settle();
    EXPECT_EQ(controller.hashtags(), (QStringList{"Alpha", "work"}));
    EXPECT_EQ(shownHashtags(), (QStringList{"#Alpha", "#work"}));
    EXPECT_EQ(controller.tableView()->numberOfRows(), controller.tableBridge()->totalRows());

    core.noteTagDidDeleteFromStorage(QStringLiteral("ANN"), NoteTagMention);
    settle();
    EXPECT_TRUE(controller.mentions().isEmpty());
    EXPECT_EQ(rect(header(FolderViewController::Mentions)).height(), 0);
    const QRect archive = rect(row(0, FolderViewController::Archive));
    EXPECT_EQ(archive.top(), rect(row(1, FolderViewController::Hashtags)).bottom() + 1 + 20);
}

TEST_F(PanesSidebar, KeysGoToTheDelegateFirst)
{
    showAndLoad();
    controller.tableView()->setFocus();
    QTest::keyClick(controller.tableView(), Qt::Key_Tab);
    QTest::keyClick(controller.tableView(), Qt::Key_Down);
    ASSERT_EQ(delegate.keys.size(), 2);
    EXPECT_EQ(delegate.keys[0], QString(QChar(KeyCharacter::Tab)));
    EXPECT_EQ(controller.tableBridge()->selectedRow(), (IndexPath{FolderViewController::Inbox, 0}));

    // Refused keys work the table: Down skips the empty tag sections.
    delegate.handlesKeys = false;
    QTest::keyClick(controller.tableView(), Qt::Key_Down);
    EXPECT_EQ(delegate.keys.size(), 3);
    EXPECT_EQ(delegate.selections, (QList<std::pair<int, QString>>{{NoteStorageArchive, QString()}}));
}

TEST_F(PanesSidebar, SelectedEntryIsFilledInTheThemesHighlight)
{
    const struct {
        ThemeID theme;
        Color selected;
        Color unselected;
    } themes[] = {
        // Light themes tint the source-list fill while the sidebar has the keys.
        {0, Themeset::firstResponderHighlightBackgroundColorForTheme(0), Themeset::menuBackgroundColorForTheme(0)},
        {2, Themeset::firstResponderHighlightBackgroundColorForTheme(2), Themeset::menuBackgroundColorForTheme(2)},
    };
    for (const auto& t : themes) {
        core.setColorTheme(t.theme);
        controller.reloadTheme();
        showAndLoad(NoteStorageArchive);
        controller.tableView()->setFocus();
        ASSERT_TRUE(controller.tableView()->hasFocus());
        const QImage shot = controller.tableView()->viewport()->grab().toImage();
        const QPoint inset(-3, 3);
        EXPECT_EQ(shot.pixelColor(rect(row(0, FolderViewController::Archive)).topRight() + inset), toQColor(t.selected))
            << t.theme;
        EXPECT_EQ(shot.pixelColor(rect(row(0, FolderViewController::Inbox)).topRight() + inset), toQColor(t.unselected))
            << t.theme;
    }
    // Focus elsewhere in the key window.
    auto* field = new QWidget(controller.view());
    field->setFocusPolicy(Qt::StrongFocus);
    field->show();
    field->setFocus();
    ASSERT_FALSE(controller.tableView()->hasFocus());
    const QImage shot = controller.tableView()->viewport()->grab().toImage();
    EXPECT_EQ(shot.pixelColor(rect(row(0, FolderViewController::Archive)).topRight() + QPoint(-3, 3)),
              toQColor(Themeset::keyWindowHighlightBackgroundColorForTheme(2)));
}

TEST_F(PanesSidebar, ANameTooLongForTheSidebarEndsInAnEllipsisInsideTheRow)
{
    const struct { const char* tag; bool elided; } cases[] = {
        {"plan", false},
        {"averyveryverylonghashtagname", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tag);
        QDir(Note::linkDirectoryForTag(NoteTagHashtag)).removeRecursively();
        makeTag(NoteTagHashtag, QString::fromLatin1(c.tag));
        showAndLoad(0);
        controller.view()->resize(120, 600);
        settle();
        const QRect entry = rect(row(0, FolderViewController::Hashtags));
        const QImage shot = controller.tableView()->viewport()->grab().toImage();
        const QColor fill = toQColor(Themeset::menuBackgroundColorForTheme(0));
        // The last column with ink, and how tall its ink is: a dot of the ellipsis, or a letter.
        const int lastInked = inkBounds(shot, entry, fill).right();
        const int inkHeight = inkBounds(shot, QRect(lastInked, entry.top(), 1, entry.height()), fill).height();
        EXPECT_GT(lastInked, entry.left() + FolderEntryCell::TextInset);
        EXPECT_LT(lastInked, entry.right() - 3) << "the text keeps clear of the row's right edge";
        EXPECT_EQ(inkHeight <= 4, c.elided) << "ink " << inkHeight << " px tall at x " << lastInked;
    }
}

TEST_F(PanesSidebar, ScenesShowTheTagsInBothThemes)
{
    const struct {
        const char* scene;
        ThemeID theme;
    } scenes[] = {{"sidebar-white", 0}, {"sidebar-charcoal", 2}};
    for (const auto& s : scenes) {
        const std::unique_ptr<QWidget> scene = UiScenes::build(QString::fromUtf8(s.scene));
        ASSERT_TRUE(scene);
        auto* table = scene->findChild<TableView*>();
        ASSERT_TRUE(table);
        QLabel* header = nullptr;
        for (QLabel* label : table->findChildren<QLabel*>())
            if (label->text() == QLatin1String("H A S H T A G S"))
                header = label;
        ASSERT_TRUE(header) << s.scene;
        const QImage shot = table->viewport()->grab().toImage();
        // Light headers show the sidebar's colour in the platform's text colour; dark ones lay their
        // translucent fill over it and write in the theme's header colour.
        const QColor menu = toQColor(Themeset::menuBackgroundColorForTheme(s.theme));
        const bool light = Themeset::themeStyleForTheme(s.theme) == ThemeStyleLight;
        const QColor fill = light ? menu : laid({menu, toQColor(Themeset::headerBackgroundColorForTheme(s.theme))});
        const QColor text = light ? table->palette().color(QPalette::Text)
                                  : laid({fill, toQColor(Themeset::headerColorForTheme(s.theme))});
        EXPECT_EQ(shot.pixelColor(header->geometry().topRight() + QPoint(-3, 3)).name(), fill.name()) << s.scene;
        EXPECT_EQ(inkColour(shot, header->geometry(), fill).name(), text.name()) << s.scene;
        // The title sits at the entries' inset, at the foot of its header, by the entries it heads.
        const QRect ink = inkBounds(shot, header->geometry(), fill);
        EXPECT_GE(ink.left(), header->x() + FolderEntryCell::TextInset) << s.scene;
        EXPECT_GT(ink.top(), header->geometry().center().y()) << s.scene;
        EXPECT_LE(ink.bottom(), header->geometry().bottom() - 8) << s.scene;
    }
}

} // namespace
