#include "panes/ListEntryCell.h"

#include "kit/AnimationContext.h"
#include "kit/QtColor.h"
#include "views/AttributedLabel.h"

#include "Core.h"
#include "Dispatch.h"
#include "Themes/Typeset.h"
#include "text/FontFaces.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

#include <algorithm>
#include <cmath>

// The sliding part; filled with the colour the delegate gives at every paint.
class ListEntryCell::Container : public QWidget {
public:
    explicit Container(ListEntryCell* cell) : QWidget(cell), cell_(cell) {}

protected:
    void paintEvent(QPaintEvent*) override
    {
        if (cell_->delegate_)
            QPainter(this).fillRect(rect(), cell_->delegate_->backgroundColorForListEntry(*cell_));
    }

private:
    ListEntryCell* cell_;
};

namespace {

// Filled in its own paint rather than by autoFillBackground: Qt takes an auto-filled child for opaque
// and leaves it out of the row's repaints, and with it the container above it, so a row whose
// highlight changed kept its old colour on screen.
class Fill : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), palette().color(QPalette::Window)); }
};

} // namespace

ListEntryCell::ListEntryCell(QWidget* parent)
    : QWidget(parent), playSound_([](int sound) { Core::shared().playSound(sound); }),
      contentView_(new Fill(this)), swipeContainer_(new QWidget(this)), swipeLabel_(new QLabel(swipeContainer_)),
      swipeArrow_(new QLabel(swipeContainer_)), restoreButton_(new BoxButton(this)), trashButton_(new BoxButton(this)),
      container_(new Container(this)), titleLabel_(new AttributedLabel(container_))
{
    auto* row = new QHBoxLayout(swipeContainer_);
    row->setContentsMargins(16, 0, 16, 0);
    row->addWidget(swipeArrow_);
    row->addWidget(swipeLabel_, 1);
    titleLabel_->setAttribute(Qt::WA_TransparentForMouseEvents);
    connect(trashButton_, &QAbstractButton::clicked, this, [this] {
        if (delegate_)
            delegate_->listEntryDidTapOption(*this, 1);
    });
    connect(restoreButton_, &QAbstractButton::clicked, this, [this] {
        if (delegate_)
            delegate_->listEntryDidTapOption(*this, 2);
    });
}

void ListEntryCell::setContentColor(const QColor& color)
{
    QPalette palette = contentView_->palette();
    palette.setColor(QPalette::Window, color);
    contentView_->setPalette(palette);
    contentView_->update();
}

void ListEntryCell::setSwipeTitle(const QString& title, const QColor& color)
{
    const Core& core = Core::shared();
    const int64_t size = Typeset::fontSizeForSizePreset(core.typeSize()) - 6;
    swipeLabel_->setFont(FontFaces::qfont(Typeset::boldFontForTypeface(core.menuTypeFace(), size)));
    QPalette palette = swipeLabel_->palette();
    palette.setColor(QPalette::WindowText, color);
    swipeLabel_->setPalette(palette);
    swipeLabel_->setText(title);
}

void ListEntryCell::setTitleMargins(const QMargins& margins)
{
    titleMargins_ = margins;
    titleLabel_->setGeometry(rect().marginsRemoved(margins));
}

void ListEntryCell::resizeEvent(QResizeEvent*)
{
    contentView_->setGeometry(rect());
    titleLabel_->setGeometry(rect().marginsRemoved(titleMargins_));
    container_->resize(size());
    setOffset(container_->x());
}

// Every frame spans the row's height; the options sit at the right edge or follow the container's.
void ListEntryCell::layOut(double x, const Place& place)
{
    const int w = width();
    const int h = height();
    const auto frame = [h](double left, int width) { return QRect(int(std::lround(left)), 0, width, h); };
    switch (mode_) {
    case Swipe:
        place(container_, frame(x, w));
        place(trashButton_, frame(x > -ButtonWidth && x > -SwipeWidth ? w - ButtonWidth : w + x, ButtonWidth));
        place(swipeContainer_, frame(x > -SwipeWidth ? w - SwipeWidth : w + x, SwipeWidth));
        break;
    case OneButton:
        place(container_, frame(std::max(x, -double(ButtonWidth)), w));
        place(trashButton_, frame(w - ButtonWidth, ButtonWidth));
        break;
    case TwoButtons:
        x = std::max(x, -2.0 * ButtonWidth);
        place(container_, frame(x, w));
        place(trashButton_, frame(x > -ButtonWidth ? w - ButtonWidth : w + x, ButtonWidth));
        place(restoreButton_, frame(w - ButtonWidth, ButtonWidth));
        break;
    default:
        break;
    }
}

void ListEntryCell::setOffset(double x)
{
    layOut(x, [](QWidget* widget, const QRect& frame) { widget->setGeometry(frame); });
}

void ListEntryCell::moveContainerTo(double x)
{
    AnimationContext::runGroup(SlideSeconds, [&](AnimationContext& context) {
        layOut(x, [&](QWidget* widget, const QRect& frame) { context.setFrame(widget, frame); });
    });
}

double ListEntryCell::optionsPosition() const
{
    return mode_ == TwoButtons ? -2.0 * ButtonWidth : -double(ButtonWidth);
}

void ListEntryCell::showOptions()
{
    if (mode_ != OneButton && mode_ != TwoButtons)
        return;
    if (delegate_)
        delegate_->listEntryDidShowOptions(*this);
    moveContainerTo(optionsPosition());
    state_ = Dragging;
}

void ListEntryCell::hideOptions()
{
    if (state_ == Dragging)
        close();
}

void ListEntryCell::close()
{
    moveContainerTo(0);
    state_ = Resting;
}

void ListEntryCell::containerPanDidStart()
{
    startX_ = container_->x();
    state_ = Began;
    if (delegate_)
        delegate_->listEntryDidTouchDown(*this);
}

void ListEntryCell::containerPanDidMove(double dx)
{
    double x = dx + startX_;
    if (state_ == Began) {
        if (x == 0)
            return;
        state_ = x > 0 ? RightFirst : Dragging;
    }
    if (state_ == RightFirst)
        return;
    x = std::min(x, 0.0);
    if (state_ == Dragging) {
        setOffset(x);
        if (x <= -SwipeWidth && mode_ == Swipe)
            setArmed(true);
    } else if (state_ == Armed) {
        setOffset(x);
        if (x > -SwipeWidth)
            setArmed(false);
    }
}

// Armed: the trash button hides and the row takes the archive colours; each change has its sound.
void ListEntryCell::setArmed(bool armed)
{
    state_ = armed ? Armed : Dragging;
    if (armed) { // the note is taken now: when the action fires the row may serve another one
        armedKey_ = item_ ? item_->key() : QString();
        armedStorage_ = item_ ? item_->storage() : 0;
    }
    const ThemeID theme = Core::shared().colorTheme();
    trashButton_->setHidden(armed);
    setContentColor(toQColor(armed ? Themeset::archiveButtonColorForTheme(theme)
                                   : Themeset::inactiveButtonColorForTheme(theme)));
    setSwipeTitle(QCoreApplication::translate("ListEntryCell", "Archive"),
                  toQColor(armed ? Themeset::archiveTextColorForTheme(theme) : Themeset::inactiveTextColorForTheme(theme)));
    playSound_(armed ? 1 : 2);
}

void ListEntryCell::containerPanDidEnd()
{
    switch (state_) {
    case Began:
    case RightFirst:
        close();
        break;
    case Dragging:
        if (std::round(float(startX_)) == 0 && container_->x() <= OpenThreshold) {
            if (delegate_)
                delegate_->listEntryDidShowOptions(*this);
            moveContainerTo(optionsPosition());
        } else {
            close();
        }
        break;
    case Armed:
        slideOut();
        break;
    default:
        break;
    }
}

void ListEntryCell::containerPanDidCancel()
{
    if (state_ == Armed)
        slideOut();
    else if (state_ != Resting)
        close();
}

void ListEntryCell::slideOut()
{
    DispatchQueue::main()->after(SlideSeconds, [self = QPointer(this), key = armedKey_, storage = armedStorage_] {
        if (self && self->delegate_)
            self->delegate_->listEntryDidSwipeAction(*self, key, storage);
    });
    moveContainerTo(-width());
    state_ = Resting;
}
