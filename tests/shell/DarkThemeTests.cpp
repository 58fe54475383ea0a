#include "ShellTestSupport.h"

#include "panes/FindBar.h"
#include "panes/QuickOpenViewController.h"
#include "panes/SearchFieldWrapper.h"
#include "kit/QtColor.h"

#include <QLineEdit>
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

} // namespace
