#include "theme/FontViewController.h"

#include "kit/Image.h"
#include "theme/ThemeButtons.h"

#include "Core.h"
#include "Themes/Themeset.h"
#include "text/FontFaces.h"

#include <QLabel>
#include <QToolButton>

#include <cmath>

namespace {

const QString EntryIdentifier = QStringLiteral("fontentry");
const QString BlankIdentifier = QStringLiteral("fontblank");
constexpr int NameSize = 16;

QPixmap themedImage(const char* suffix, const QWidget* widget)
{
    return Image::named(Themeset::resourceNameForTheme(Core::shared().colorTheme()) + QLatin1String(suffix),
                        widget->devicePixelRatioF());
}

} // namespace

FontEntryCell::FontEntryCell(QWidget* parent)
    : QWidget(parent), textField_(new QLabel(this)), imageView_(new QLabel(this)), hairline_(new QWidget(this))
{
    imageView_->setGeometry(12, 10, 18, 18);
    hairline_->setGeometry(FontViewController::NameX, int(FontViewController::RowHeight) - 1, FontViewController::NameWidth, 1);
    hairline_->setAutoFillBackground(true);
}

FontViewController::FontViewController(QObject* parent) : ViewController(parent)
{
}

QWidget* FontViewController::loadView()
{
    auto* view = new QWidget;
    view->resize(240, 350);
    tableView_ = new TableView(view);
    tableView_->setGeometry(view->rect());
    tableView_->setBackgroundColor(Qt::white);
    tableView_->setSelectionColor(QColor()); // the tick alone marks the current typeface
    tableView_->setFocusPolicy(Qt::NoFocus);
    tableBridge_ = new TableBridge(tableView_, this, this);
    auto* back = new QToolButton(view);
    back->setAutoRaise(true);
    back->setGeometry(8, 10, 24, 24);
    back->setAccessibleName(tr("Back"));
    connect(back, &QAbstractButton::clicked, this, [this] {
        if (ViewController* presenter = parentViewController())
            presenter->dismissViewController(this);
    });
    backButton_ = back;
    return view;
}

void FontViewController::viewDidLoad()
{
    tableBridge_->reloadData();
    auto* back = static_cast<QToolButton*>(backButton_);
    const QPixmap image = themedImage("-left", back);
    back->setIcon(image);
    back->setIconSize(image.deviceIndependentSize().toSize());
    back->raise();
}

int64_t FontViewController::tableViewNumberOfRowsInSection(TableView&, int64_t section)
{
    switch (section) {
    case TopBlank:
    case BottomBlank:
        return 1;
    case Typefaces:
        return Typeset::numberOfTypefaces();
    default:
        return 0;
    }
}

double FontViewController::tableViewHeightForRow(TableView&, int64_t, int64_t section)
{
    switch (section) {
    case TopBlank:
        return TopBlankHeight;
    case Typefaces:
        return RowHeight;
    case BottomBlank:
        return BottomBlankHeight;
    default:
        return 0;
    }
}

QWidget* FontViewController::tableViewRowViewForRow(TableView& table, int64_t row, int64_t section)
{
    if (section != Typefaces) {
        QWidget* blank = table.makeView(BlankIdentifier, [] { return new QWidget; });
        fillWhite(blank);
        return blank;
    }
    return entryView(table, row);
}

QWidget* FontViewController::entryView(TableView& table, int64_t row)
{
    const TypefaceID typeface = Typeset::typefaceAtIndex(row);
    auto* cell = static_cast<FontEntryCell*>(table.makeView(EntryIdentifier, [] { return new FontEntryCell; }));
    QLabel* name = cell->textField();
    name->setFont(FontFaces::qfont(Typeset::regularFontForTypeface(typeface, NameSize)));
    name->setText(Typeset::localizedNameForTypeface(typeface));
    QPalette palette = name->palette();
    palette.setColor(QPalette::WindowText, Qt::black);
    name->setPalette(palette);
    cell->hairline()->hide();
    // Whole pixels: the name is centred in the row, rounded.
    const int h = name->sizeHint().height();
    const double rowHeight = tableViewHeightForRow(table, row, Typefaces);
    name->setGeometry(NameX, int(std::lround((rowHeight - h) * 0.5)), NameWidth, h);
    const bool current = typeface == Core::shared().typeFace();
    if (current)
        cell->imageView()->setPixmap(themedImage("-tick", cell));
    cell->imageView()->setVisible(current);
    return cell;
}

void FontViewController::tableViewDidSelectRow(TableView&, int64_t row, int64_t section)
{
    if (section != Typefaces || row < 0)
        return;
    const TypefaceID typeface = Typeset::typefaceAtIndex(row);
    if (typeface == Core::shared().typeFace())
        return;
    if (FontViewControllerDelegate* delegate = delegate_.get())
        delegate->fontControllerDidSelectTypeFace(*this, typeface);
}
