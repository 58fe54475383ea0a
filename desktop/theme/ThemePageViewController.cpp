#include "theme/ThemePageViewController.h"

#include "theme/ThemeButtons.h"

namespace {

constexpr int ButtonSide = 48;
constexpr int ButtonGap = 24;

} // namespace

ThemePageViewController::ThemePageViewController(QObject* parent) : ViewController(parent)
{
}

QWidget* ThemePageViewController::loadView()
{
    auto* view = new QWidget;
    view->resize(240, 150);
    const int left = (240 - 2 * ButtonSide - ButtonGap) / 2;
    const int top = (150 - 2 * ButtonSide - ButtonGap) / 2;
    for (int i = 0; i < ButtonCount; ++i) {
        auto* button = new ThemeCircleButton(view);
        button->setGeometry(left + (i % 2) * (ButtonSide + ButtonGap), top + (i / 2) * (ButtonSide + ButtonGap), ButtonSide, ButtonSide);
        connect(button, &QAbstractButton::clicked, this, [this, button] { buttonDidTap(*button); });
        buttons_[size_t(i)] = button;
    }
    return view;
}

ThemeCircleButton* ThemePageViewController::buttonAtIndex(int64_t index)
{
    view();
    return index >= 0 && index < ButtonCount ? buttons_[size_t(index)] : nullptr;
}

void ThemePageViewController::resetButtons()
{
    for (int i = 0; i < ButtonCount; ++i)
        buttonAtIndex(i)->setHidden(true);
}

void ThemePageViewController::buttonDidTap(ThemeCircleButton& button)
{
    if (ThemePageViewControllerDelegate* delegate = delegate_.get())
        delegate->themePageButtonDidTap(*this, button);
}
