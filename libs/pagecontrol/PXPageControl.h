#pragma once

#include "WeakDelegate.h"

#include <QColor>
#include <QWidget>

#include <functional>
#include <vector>

class PXPageControl;

// Draws one dot: its frame, the control, whether it is the current page's and whether it is pressed.
using PXPageControlDrawingBlock = std::function<void(QPainter&, const QRectF&, QWidget*, bool selected, bool highlighted)>;

class PXPageControlDelegate {
public:
    virtual ~PXPageControlDelegate() = default;
    virtual void pageControlDidSelectPageAtIndex(PXPageControl&, int64_t) {}
};

// One dot. Without a drawing block it draws nothing.
class PXPageControlCell {
public:
    QRectF frame;
    bool on = false;
    bool highlighted = false;
    bool useHandCursor = false;
    PXPageControlDrawingBlock drawingBlock;

    void draw(QPainter& painter, QWidget* view) const;
};

// A row of dots, one a page, the current page's drawn as selected. A click makes its page current and
// tells the delegate. The dots are rebuilt by the setters that say so and on every resize; diameter,
// margin and hidesForSinglePage wait for the next rebuild.
class PXPageControl : public QWidget {
public:
    explicit PXPageControl(QWidget* parent = nullptr);

    int64_t currentPage() const { return currentPage_; }
    void setCurrentPage(int64_t page);
    int64_t numberOfPages() const { return numberOfPages_; }
    void setNumberOfPages(int64_t count);
    bool hidesForSinglePage() const { return hidesForSinglePage_; }
    void setHidesForSinglePage(bool hides) { hidesForSinglePage_ = hides; }
    bool useHandCursor() const { return useHandCursor_; }
    void setUseHandCursor(bool use);
    double indicatorDiameterSize() const { return diameter_; }
    void setIndicatorDiameterSize(double diameter) { diameter_ = diameter; }
    double indicatorMargin() const { return margin_; }
    void setIndicatorMargin(double margin) { margin_ = margin; }
    // The default block's colours; an invalid colour gives back the default grey.
    QColor selectedColor() const;
    void setSelectedColor(const QColor& color);
    QColor highlightColor() const;
    void setHighlightColor(const QColor& color);
    QColor unselectedColor() const;
    void setUnselectedColor(const QColor& color);
    void setDrawingBlock(PXPageControlDrawingBlock block);
    // Held weakly; it must be a QObject.
    PXPageControlDelegate* delegate() const { return delegate_.get(); }
    void setDelegate(PXPageControlDelegate* delegate) { delegate_ = delegate; }

    void updateCurrentPageDisplay();
    // Never narrower than 0.
    QSizeF sizeForNumberOfPages(int64_t count) const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

    const std::vector<PXPageControlCell>& cells() const { return cells_; }
    // The frame of the row of dots, in the control's coordinates; empty without dots.
    const QRectF& rowFrame() const { return rowFrame_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    int cellAt(const QPointF& point) const;
    void clickedItem(int index);
    void defaultDraw(QPainter& painter, const QRectF& frame, bool selected, bool highlighted) const;

    PXPageControlDrawingBlock drawingBlock_;
    bool hidesForSinglePage_ = false;
    bool useHandCursor_ = false;
    int64_t currentPage_ = 0;
    int64_t numberOfPages_ = 0;
    QColor selectedColor_;
    QColor highlightColor_;
    QColor unselectedColor_;
    double diameter_ = 10.0;
    double margin_ = 5.0;
    WeakDelegate<PXPageControlDelegate> delegate_;

    std::vector<PXPageControlCell> cells_;
    QRectF rowFrame_;
    QSize builtFor_;
    int pressed_ = -1;
};
