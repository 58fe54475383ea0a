#pragma once

#include "kit/PageController.h"
#include "kit/ViewController.h"
#include "theme/FontViewController.h"
#include "theme/ThemePageViewController.h"
#include "PXPageControl.h"
#include "WeakDelegate.h"

#include "Themes/Themeset.h"
#include "Themes/Typeset.h"

class QLabel;
class QAbstractButton;
class TextButton;
class ThemeViewController;

// Told of every choice; it stores the setting and restyles the window before it returns.
class ThemeViewControllerDelegate {
public:
    virtual ~ThemeViewControllerDelegate() = default;
    virtual void themeControllerDidSelectTheme(ThemeViewController& controller, ThemeID theme) = 0;
    virtual void themeControllerDidSelectTypeFace(ThemeViewController& controller, TypefaceID typeface) = 0;
    virtual void themeControllerDidTapSmallerFontSize(ThemeViewController& controller) = 0;
    virtual void themeControllerDidTapLargerFontSize(ThemeViewController& controller) = 0;
};

// The theme popover's content: pages of four theme buttons with a pager and next and previous
// buttons, the typeface sample that opens the typeface list, and the type-size buttons. It reads the
// settings from Core, reports each choice to its delegate and then refreshes its own looks.
class ThemeViewController : public ViewController,
                            public PageControllerDelegate,
                            public PXPageControlDelegate,
                            public ThemePageViewControllerDelegate,
                            public FontViewControllerDelegate {
    Q_OBJECT
public:
    static constexpr QSize ContentSize{240, 350};
    static constexpr double PagerDiameter = 12.0;
    static constexpr double PagerMargin = 5.0;

    explicit ThemeViewController(QObject* parent = nullptr);
    ~ThemeViewController() override;

    // Held weakly; it must be a QObject.
    void setDelegate(ThemeViewControllerDelegate* delegate) { delegate_ = delegate; }

    static int64_t numberOfThemesPerPage() { return 4; }
    static int64_t numberOfThemePages();

    // False, changing nothing, for a theme not in the picker.
    bool showTheme(ThemeID theme, bool animated);
    void showThemePage(int64_t page, bool animated);
    void reloadThemePage(ThemePageViewController& page);
    void reloadTheme();
    void reloadTypeFace();

    void nextPageDidTap();
    void previousPageDidTap();
    void smallerFontDidTap();
    void largerFontDidTap();
    // Pushes the typeface list over the popover.
    void fontButtonDidTap();

    PXPageControl* themePager() { return view(), themePager_; }
    PageController& themePageController() { return *themePageController_; }
    TextButton* fontButton() { return view(), fontButton_; }
    QLabel* fontNameLabel() { return view(), fontNameLabel_; }
    QLabel* fontArrow() { return view(), fontArrow_; }
    QAbstractButton* smallFontSizeButton() { return view(), smallFontSizeButton_; }
    QAbstractButton* largeFontSizeButton() { return view(), largeFontSizeButton_; }
    QAbstractButton* nextPageButton() { return view(), nextPageButton_; }
    QAbstractButton* previousPageButton() { return view(), previousPageButton_; }
    // The typeface list while it is shown, else null.
    FontViewController* fontController() const { return fontController_; }

    // PageControllerDelegate
    QString pageControllerIdentifierForObject(PageController&, const QVariant&) override;
    ViewController* pageControllerViewControllerForIdentifier(PageController&, const QString&) override;
    QRect pageControllerFrameForObject(PageController& pager, const QVariant&) override;
    void pageControllerPrepareViewController(PageController&, ViewController& page, const QVariant& object) override;
    void pageControllerDidEndLiveTransition(PageController& pager) override;
    // PXPageControlDelegate
    void pageControlDidSelectPageAtIndex(PXPageControl&, int64_t index) override;
    // ThemePageViewControllerDelegate
    void themePageButtonDidTap(ThemePageViewController& page, ThemeCircleButton& button) override;
    // FontViewControllerDelegate
    void fontControllerDidSelectTypeFace(FontViewController&, TypefaceID typeface) override;

protected:
    QWidget* loadView() override;
    void viewDidLoad() override;
    // The typeface's name and the arrow beside it open the list, as the sample does.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void viewWillAppear() override;

private:
    void reloadSelectedPage();
    static void drawDot(QPainter& painter, const QRectF& frame, bool selected, bool highlighted);

    WeakDelegate<ThemeViewControllerDelegate> delegate_;
    PXPageControl* themePager_ = nullptr;
    PageController* themePageController_; // a child
    QWidget* themeContainer_ = nullptr;
    QAbstractButton* smallFontSizeButton_ = nullptr;
    QAbstractButton* largeFontSizeButton_ = nullptr;
    QAbstractButton* nextPageButton_ = nullptr;
    QAbstractButton* previousPageButton_ = nullptr;
    QLabel* fontArrow_ = nullptr;
    QLabel* fontNameLabel_ = nullptr;
    TextButton* fontButton_ = nullptr;
    QPointer<FontViewController> fontController_;
};
