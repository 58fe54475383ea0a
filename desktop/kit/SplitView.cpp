#include "kit/SplitView.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

// The grab zone over one divider: wider than the divider, drawn by nobody.
class SplitView::Grip : public QWidget {
public:
    Grip(SplitView* split, int index) : QWidget(split), split_(split), index_(index)
    {
        setCursor(Qt::SplitHCursor);
    }

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        grabOffset_ = int(event->position().x()) - GrabMargin;
    }
    void mouseMoveEvent(QMouseEvent* event) override
    {
        if (event->buttons() & Qt::LeftButton)
            split_->setPosition(int(mapToParent(event->position()).x()) - grabOffset_, index_);
    }

private:
    SplitView* split_;
    int index_;
    int grabOffset_ = 0;
};

void SplitViewDelegate::splitViewResizeSubviewsWithOldSize(SplitView& view, const QSize&)
{
    view.adjustSubviews();
}

SplitView::SplitView(QWidget* parent) : QWidget(parent) {}

void SplitView::addSubview(QWidget* view)
{
    view->setParent(this);
    const int x = subviews_.isEmpty() ? 0 : subviews_.last()->geometry().right() + 1 + DividerThickness;
    if (!subviews_.isEmpty())
        grips_.push_back(new Grip(this, int(grips_.size())));
    subviews_.append(view);
    view->setGeometry(x, 0, 0, height());
    view->show();
    didResizeSubviews();
}

int SplitView::positionOfDivider(int dividerIndex) const
{
    if (dividerIndex < 0 || dividerIndex + 1 >= subviews_.size())
        return -1;
    const QWidget* left = subviews_[dividerIndex];
    return left->x() + left->width();
}

void SplitView::setPosition(int x, int dividerIndex)
{
    if (positionOfDivider(dividerIndex) < 0)
        return;
    QWidget* left = subviews_[dividerIndex];
    QWidget* right = subviews_[dividerIndex + 1];
    const int start = left->x();
    const int end = right->x() + right->width();
    x = std::clamp(x, start, std::max(start, end - DividerThickness));
    left->setGeometry(start, 0, x - start, height());
    right->setGeometry(x + DividerThickness, 0, std::max(0, end - x - DividerThickness), height());
    didResizeSubviews();
}

double SplitView::splitPosition() const
{
    if (subviews_.isEmpty())
        return 0;
    const QWidget* first = subviews_.first();
    return first->x() + first->width();
}

void SplitView::setSplitPosition(double position)
{
    setPosition(qRound(position), 0);
}

std::optional<double> SplitView::defaultAnimationForKey(const QByteArray& key) const
{
    if (key == "splitPosition")
        return SplitPositionAnimationDuration;
    return std::nullopt;
}

void SplitView::adjustSubviews()
{
    int x = 0;
    for (QWidget* view : subviews_) {
        const int width = view == subviews_.last() ? std::max(0, this->width() - x) : view->width();
        view->setGeometry(x, 0, width, height());
        x += width + DividerThickness;
    }
}

void SplitView::setDividerColor(const QColor& color)
{
    if (color == dividerColor_)
        return;
    dividerColor_ = color;
    update();
}

void SplitView::resizeEvent(QResizeEvent* event)
{
    const QSize old = event->oldSize().isValid() ? event->oldSize() : QSize(0, 0);
    if (delegate_)
        delegate_->splitViewResizeSubviewsWithOldSize(*this, old);
    else
        adjustSubviews();
    didResizeSubviews();
}

void SplitView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    for (int i = 0; i + 1 < subviews_.size(); ++i)
        painter.fillRect(positionOfDivider(i), 0, DividerThickness, height(), dividerColor_);
}

void SplitView::didResizeSubviews()
{
    for (size_t i = 0; i < grips_.size(); ++i) {
        grips_[i]->setGeometry(positionOfDivider(int(i)) - GrabMargin, 0, 2 * GrabMargin + DividerThickness, height());
        grips_[i]->raise();
    }
    update();
    if (delegate_)
        delegate_->splitViewDidResizeSubviews(*this);
}
