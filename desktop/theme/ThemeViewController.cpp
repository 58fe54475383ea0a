#include "theme/ThemeViewController.h"

#include "kit/AnimationContext.h"
#include "kit/Image.h"
#include "kit/QtColor.h"
#include "shell/PushSegue.h"
#include "theme/ThemeButtons.h"

#include "Core.h"
#include "Log.h"
#include "text/FontFaces.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>

namespace {

const QString PageIdentifier = QStringLiteral("theme");
constexpr int SampleSize = 72;
constexpr int NameSize = 16;
// Grey of the dots of the other pages.
const QColor DotGrey = QColor::fromRgbF(217 / 255.0f, 217 / 255.0f, 217 / 255.0f);

QString themedName(ThemeID theme, const char* suffix)
{
    return Themeset::resourceNameForTheme(theme) + QLatin1String(suffix);
}

ThemePageButton* sizeButton(const QString& text, int pointSize, const QRect& frame, QWidget* parent)
{
    auto* button = new ThemePageButton(text, parent);
    QFont font = button->font();
    font.setPointSize(pointSize);
    button->setFont(font);
    button->setGeometry(frame);
    return button;
}

} // namespace

ThemeViewController::ThemeViewController(QObject* parent)
    : ViewController(parent), themePageController_(new PageController)
{
    addChild(themePageController_);
}

ThemeViewController::~ThemeViewController()
{
    LogInfo("theme:dealloc");
}

int64_t ThemeViewController::numberOfThemePages()
{
    const int64_t themes = Themeset::numberOfThemes();
    const int64_t pages = themes / numberOfThemesPerPage();
    return pages * numberOfThemesPerPage() < themes ? pages + 1 : pages;
}

QWidget* ThemeViewController::loadView()
{
    auto* view = new QWidget;
    view->resize(ContentSize);
    fillWhite(view);

    themeContainer_ = new QWidget(view);
    themeContainer_->setGeometry(0, 10, ContentSize.width(), 150);
    themePager_ = new PXPageControl(view);
    themePager_->setGeometry(40, 168, 160, 16);
    themePager_->setDelegate(this);
    auto* previous = new ThemePageButton(QStringLiteral("‹"), view);
    previous->setGeometry(8, 162, 28, 28);
    previous->setAccessibleName(tr("Previous Themes"));
    auto* next = new ThemePageButton(QStringLiteral("›"), view);
    next->setGeometry(204, 162, 28, 28);
    next->setAccessibleName(tr("Next Themes"));
    connect(previous, &QAbstractButton::clicked, this, &ThemeViewController::previousPageDidTap);
    connect(next, &QAbstractButton::clicked, this, &ThemeViewController::nextPageDidTap);
    previousPageButton_ = previous;
    nextPageButton_ = next;

    fontButton_ = new TextButton(view);
    fontButton_->setGeometry(16, 200, 96, 90);
    fontButton_->setAccessibleName(tr("Typeface"));
    connect(fontButton_, &QAbstractButton::clicked, this, &ThemeViewController::fontButtonDidTap);
    fontNameLabel_ = new QLabel(view);
    // Two lines beside the arrow: the fonts standing in for the designed ones run wider.
    fontNameLabel_->setGeometry(120, 218, 92, 54);
    fontNameLabel_->setWordWrap(true);
    fontNameLabel_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    fontArrow_ = new QLabel(view);
    fontArrow_->setGeometry(212, 235, 18, 20);
    for (QLabel* opener : {fontNameLabel_, fontArrow_}) {
        opener->setCursor(Qt::PointingHandCursor);
        opener->installEventFilter(this);
    }

    smallFontSizeButton_ = sizeButton(QStringLiteral("A"), 11, QRect(16, 302, 100, 36), view);
    smallFontSizeButton_->setAccessibleName(tr("Smaller"));
    largeFontSizeButton_ = sizeButton(QStringLiteral("A"), 18, QRect(124, 302, 100, 36), view);
    largeFontSizeButton_->setAccessibleName(tr("Bigger"));
    connect(smallFontSizeButton_, &QAbstractButton::clicked, this, &ThemeViewController::smallerFontDidTap);
    connect(largeFontSizeButton_, &QAbstractButton::clicked, this, &ThemeViewController::largerFontDidTap);
    return view;
}

void ThemeViewController::viewDidLoad()
{
    QList<QVariant> pages;
    for (int64_t i = 0; i < numberOfThemePages(); ++i)
        pages.append(QVariant::fromValue(ThemePage{i}));
    QWidget* strip = themePageController_->view();
    strip->setParent(themeContainer_);
    strip->setGeometry(themeContainer_->rect());
    strip->show();
    themePageController_->setDelegate(this);
    themePageController_->setArrangedObjects(pages);

    reloadTheme();
    reloadTypeFace();

    themePager_->setNumberOfPages(numberOfThemePages());
    themePager_->setIndicatorDiameterSize(PagerDiameter);
    themePager_->setIndicatorMargin(PagerMargin);
    themePager_->setCurrentPage(0);
    themePager_->setDrawingBlock([](QPainter& painter, const QRectF& frame, QWidget*, bool selected, bool highlighted) {
        drawDot(painter, frame, selected, highlighted);
    });
    showTheme(Core::shared().colorTheme(), false);
}

void ThemeViewController::drawDot(QPainter& painter, const QRectF& frame, bool selected, bool highlighted)
{
    const QRectF dot = frame.adjusted(2, 2, -2, -2);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    // A thin white edge shows under the dot.
    painter.setBrush(Qt::white);
    painter.drawEllipse(dot.translated(0, 1.5));
    painter.setBrush(selected || highlighted ? toQColor(Themeset::tintColorForTheme(Core::shared().colorTheme())) : DotGrey);
    painter.drawEllipse(dot);
}

void ThemeViewController::viewWillAppear()
{
    themePager_->update();
    reloadSelectedPage();
}

bool ThemeViewController::showTheme(ThemeID theme, bool animated)
{
    for (int64_t position = 0; position < Themeset::numberOfThemes(); ++position) {
        if (Themeset::themeAtIndex(position) == theme) {
            showThemePage(position / numberOfThemesPerPage(), animated);
            return true;
        }
    }
    return false;
}

void ThemeViewController::showThemePage(int64_t page, bool animated)
{
    view();
    themePager_->setCurrentPage(page);
    if (!animated) {
        themePageController_->setSelectedIndex(page);
        themePageController_->completeTransition();
        return;
    }
    AnimationContext::runGroup([&](AnimationContext& context) { themePageController_->animateSelectedIndex(context, page); },
                               [pager = QPointer(themePageController_)] {
                                   if (pager)
                                       pager->completeTransition();
                               });
}

void ThemeViewController::reloadThemePage(ThemePageViewController& page)
{
    const int64_t first = page.pageIndex() * numberOfThemesPerPage();
    const int64_t end = std::min(first + numberOfThemesPerPage(), Themeset::numberOfThemes());
    page.resetButtons();
    const ThemeID current = Core::shared().colorTheme();
    for (int64_t i = 0; first + i < end; ++i) {
        const ThemeID theme = Themeset::themeAtIndex(first + i);
        ThemeCircleButton* button = page.buttonAtIndex(i);
        button->setHidden(false);
        button->setTag(theme);
        button->setAccessibleName(Themeset::themeNameForTheme(theme));
        button->setImage(Image::named(themedName(theme, theme == current ? "-circle-selected" : "-circle"), button->devicePixelRatioF()));
    }
}

void ThemeViewController::reloadSelectedPage()
{
    if (auto* page = qobject_cast<ThemePageViewController*>(themePageController_->selectedViewController()))
        reloadThemePage(*page);
}

void ThemeViewController::reloadTheme()
{
    view();
    fontArrow_->setPixmap(Image::named(themedName(Core::shared().colorTheme(), "-right"), fontArrow_->devicePixelRatioF()));
    themePager_->update();
}

void ThemeViewController::reloadTypeFace()
{
    view();
    const TypefaceID typeface = Core::shared().typeFace();
    fontButton_->setTitle(tr("Aa"), FontFaces::qfont(Typeset::regularFontForTypeface(typeface, SampleSize)));
    fontButton_->setBackgroundColor(Qt::white);
    // The white theme's menu colour whatever the theme: the popover is always white.
    fontButton_->setTextColor(toQColor(Themeset::menuColorForTheme(0)));
    fontNameLabel_->setFont(FontFaces::qfont(Typeset::regularFontForTypeface(typeface, NameSize)));
    fontNameLabel_->setText(Typeset::localizedNameForTypeface(typeface));
}

void ThemeViewController::nextPageDidTap()
{
    const int64_t selected = themePageController_->selectedIndex();
    if (selected + 1 < numberOfThemePages())
        showThemePage(selected + 1, true);
}

void ThemeViewController::previousPageDidTap()
{
    const int64_t selected = themePageController_->selectedIndex();
    if (selected >= 1)
        showThemePage(selected - 1, true);
}

void ThemeViewController::smallerFontDidTap()
{
    if (ThemeViewControllerDelegate* delegate = delegate_.get())
        delegate->themeControllerDidTapSmallerFontSize(*this);
}

void ThemeViewController::largerFontDidTap()
{
    if (ThemeViewControllerDelegate* delegate = delegate_.get())
        delegate->themeControllerDidTapLargerFontSize(*this);
}

bool ThemeViewController::eventFilter(QObject* watched, QEvent* event)
{
    if ((watched == fontNameLabel_ || watched == fontArrow_) && event->type() == QEvent::MouseButtonRelease
        && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        fontButtonDidTap();
        return true;
    }
    return ViewController::eventFilter(watched, event);
}

void ThemeViewController::fontButtonDidTap()
{
    auto* list = new FontViewController;
    list->setDelegate(this);
    fontController_ = list;
    PushSegue(*this, list).perform();
}

QString ThemeViewController::pageControllerIdentifierForObject(PageController&, const QVariant&)
{
    return PageIdentifier;
}

ViewController* ThemeViewController::pageControllerViewControllerForIdentifier(PageController&, const QString&)
{
    auto* page = new ThemePageViewController;
    page->setDelegate(this);
    reloadThemePage(*page);
    return page;
}

QRect ThemeViewController::pageControllerFrameForObject(PageController& pager, const QVariant&)
{
    return pager.view()->rect();
}

void ThemeViewController::pageControllerPrepareViewController(PageController&, ViewController& page, const QVariant& object)
{
    auto& themePage = static_cast<ThemePageViewController&>(page);
    themePage.setPageIndex(object.value<ThemePage>().pageIndex);
    reloadThemePage(themePage);
}

void ThemeViewController::pageControllerDidEndLiveTransition(PageController& pager)
{
    themePager_->setCurrentPage(pager.selectedIndex());
    pager.completeTransition();
}

void ThemeViewController::pageControlDidSelectPageAtIndex(PXPageControl&, int64_t index)
{
    if (index < 0 || index == themePageController_->selectedIndex())
        return;
    showThemePage(index, true);
}

void ThemeViewController::themePageButtonDidTap(ThemePageViewController&, ThemeCircleButton& button)
{
    const ThemeID theme = button.tag();
    if (ThemeViewControllerDelegate* delegate = delegate_.get())
        delegate->themeControllerDidSelectTheme(*this, theme);
    reloadTheme();
    reloadSelectedPage();
}

void ThemeViewController::fontControllerDidSelectTypeFace(FontViewController& list, TypefaceID typeface)
{
    if (ThemeViewControllerDelegate* delegate = delegate_.get())
        delegate->themeControllerDidSelectTypeFace(*this, typeface);
    list.tableBridge()->reloadData();
    reloadTypeFace();
}
