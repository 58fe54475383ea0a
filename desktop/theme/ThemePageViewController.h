#pragma once

#include "kit/ViewController.h"
#include "WeakDelegate.h"

#include <QMetaType>

#include <array>
#include <cstdint>

class ThemeCircleButton;
class ThemePageViewController;

// One page of the theme strip: the page controller's arranged object.
struct ThemePage {
    int64_t pageIndex = 0;
};
Q_DECLARE_METATYPE(ThemePage)

class ThemePageViewControllerDelegate {
public:
    virtual ~ThemePageViewControllerDelegate() = default;
    virtual void themePageButtonDidTap(ThemePageViewController& page, ThemeCircleButton& button) = 0;
};

// Up to four theme buttons in a square; the owner fills them.
class ThemePageViewController : public ViewController {
    Q_OBJECT
public:
    static constexpr int ButtonCount = 4;

    explicit ThemePageViewController(QObject* parent = nullptr);

    int64_t pageIndex() const { return pageIndex_; }
    void setPageIndex(int64_t index) { pageIndex_ = index; }
    // Held weakly; it must be a QObject.
    void setDelegate(ThemePageViewControllerDelegate* delegate) { delegate_ = delegate; }

    // Null outside 0 to 3.
    ThemeCircleButton* buttonAtIndex(int64_t index);
    void resetButtons();
    void buttonDidTap(ThemeCircleButton& button);

protected:
    QWidget* loadView() override;

private:
    int64_t pageIndex_ = 0;
    WeakDelegate<ThemePageViewControllerDelegate> delegate_;
    std::array<ThemeCircleButton*, ButtonCount> buttons_{};
};
