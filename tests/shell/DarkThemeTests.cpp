#include "ShellTestSupport.h"

#include "panes/FindBar.h"
#include "panes/QuickOpenViewController.h"
#include "panes/SearchFieldWrapper.h"
#include "kit/QtColor.h"
#include "kit/TableView.h"
#include "panes/ListViewController.h"
#include "panes/NoteViewController.h"

#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>

namespace {

double luminance(const QColor& colour)
{
    return 0.2126 * colour.redF() + 0.7152 * colour.greenF() + 0.0722 * colour.blueF();
}

// What an empty field draws at its middle: the colour its text stands on.
QColor drawnBehindText(QLineEdit* field)
{
    const QString text = field->text();
    field->clear();
    QApplication::processEvents();
    const QImage shot = field->grab().toImage();
    field->setText(text);
    return shot.pixelColor(shot.width() / 2, shot.height() / 2);
}

TEST_F(ShellTest, TypedTextStandsOutInEveryFieldOfEveryTheme)
{
    for (const ThemeID theme : {ThemeID(0), ThemeID(2), ThemeID(3), ThemeID(18)}) {
        SCOPED_TRACE(theme);
        Core::shared().setColorTheme(theme);
        open();
        root->showOpenQuickly(std::nullopt);
        FindBar* find = root->noteController()->findBar();
        find->open();
        settle();
        EXPECT_EQ(drawnBehindText(find->field()), toQColor(Themeset::fieldBackgroundColorForTheme(theme)))
            << "the find field in the theme's field colours";
        const struct {
            const char* name;
            QLineEdit* field;
        } fields[] = {
            {"toolbar search", root->searchField()},
            {"quick open", root->quickOpenController()->searchFieldWrapper()->searchField()},
            {"find in note", find->field()},
        };
        for (const auto& f : fields) {
            SCOPED_TRACE(f.name);
            ASSERT_TRUE(f.field);
            const QColor behind = drawnBehindText(f.field);
            for (const QPalette::ColorRole role : {QPalette::Text, QPalette::PlaceholderText})
                EXPECT_GT(std::abs(luminance(f.field->palette().color(QPalette::Active, role)) - luminance(behind)), 0.35)
                    << role << " " << f.field->palette().color(role).name().toStdString() << " on "
                    << behind.name().toStdString();
        }
        shown.reset();
        settle();
    }
}

TEST_F(ShellTest, TheEditorScrollBarTakesTheThemeColours)
{
    QString text;
    for (int i = 0; i < 200; ++i)
        text += QStringLiteral("line %1\n").arg(i);
    write(QStringLiteral("Long.txt"), text);
    for (const ThemeID theme : {ThemeID(0), ThemeID(2), ThemeID(18)}) {
        SCOPED_TRACE(theme);
        Core::shared().setColorTheme(theme);
        open();
        QScrollBar* bar = editor()->verticalScrollBar();
        ASSERT_TRUE(bar->isVisible());
        bar->setValue(bar->minimum());
        QApplication::processEvents();
        // Below the handle, which rests at the top.
        const QImage shot = bar->grab().toImage();
        EXPECT_EQ(shot.pixelColor(shot.width() / 2, shot.height() - 3), toQColor(Themeset::backgroundColorForTheme(theme)));
        shown.reset();
        settle();
    }
}

// A button's title stands out from what is drawn behind it (sampled inside its frame, left of the centred title), and
// the note list's scroll bar lies on the list's own colour, in every theme.
TEST_F(ShellTest, TheBannerButtonAndTheListScrollBarReadInEveryTheme)
{
    for (int i = 0; i < 30; ++i)
        write(QStringLiteral("Note %1.txt").arg(i), QStringLiteral("Note %1\nsome words").arg(i));
    TestSupport::writeFile(Note::documentFileForKey(QStringLiteral("Stray.txt"), NoteStorageInbox),
                           "Stray\ncaf\xC3\xA9 \xFF");
    for (int64_t index = 0; index < Themeset::numberOfThemes(); ++index) {
        const ThemeID theme = Themeset::themeAtIndex(index);
        SCOPED_TRACE(theme);
        Core::shared().setColorTheme(theme);
        open();
        root->noteController()->showNote(std::make_shared<Note>(QStringLiteral("Stray.txt"), NoteStorageInbox));
        settle();
        QPushButton* edit = nullptr;
        for (QPushButton* button : root->noteController()->view()->findChildren<QPushButton*>())
            edit = button->text() == QStringLiteral("Edit Anyway") ? button : edit;
        ASSERT_TRUE(edit && edit->isVisible());
        const QImage button = edit->grab().toImage();
        const QColor behind = button.pixelColor(3, button.height() / 2);
        const QColor title = edit->palette().color(QPalette::Active, QPalette::ButtonText);
        EXPECT_GT(std::abs(luminance(title) - luminance(behind)), 0.35)
            << title.name().toStdString() << " on " << behind.name().toStdString();

        QScrollBar* bar = root->listController()->tableView()->verticalScrollBar();
        ASSERT_TRUE(bar->isVisible());
        bar->setValue(bar->minimum());
        QApplication::processEvents();
        const QImage track = bar->grab().toImage();
        const QColor under = track.pixelColor(track.width() / 2, track.height() - 3);
        const QColor list = toQColor(Themeset::menuBackgroundColorForTheme(theme));
        EXPECT_LT(std::abs(luminance(under) - luminance(list)), 0.1)
            << under.name().toStdString() << " in a list of " << list.name().toStdString();
        shown.reset();
        settle();
    }
}

} // namespace
