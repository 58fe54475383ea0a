#pragma once

#include "kit/ViewController.h"

#include <QPointer>

class IntroViewController;
#include <QLabel>
#include <QPushButton>

class IntroViewControllerDelegate {
public:
    virtual ~IntroViewControllerDelegate() = default;
    virtual void introControllerDismissDidTap(IntroViewController& controller) = 0;
    virtual void introControllerDidTryQuickOpen(IntroViewController& controller) = 0;
};

// The first-run window's content: a hint on hashtags and mentions, its two words in theme 0's tint
// whatever the theme, and a close button that Return presses. Handles "openQuickly:".
class IntroViewController : public ViewController {
public:
    explicit IntroViewController(QObject* parent = nullptr);
    ~IntroViewController() override;

    // Not owned.
    void setDelegate(IntroViewControllerDelegate* delegate) { delegate_ = delegate; }

    QPushButton* closeButton() const { return closeButton_; }
    QLabel* hashtagField() const { return hashtagField_; }

    // The hint as rich text: centred, "#hashtag" and "@mention" tinted where they occur.
    static QString hintText();

protected:
    QWidget* loadView() override;
    void viewDidLoad() override;
    void viewDidAppear() override;

private:
    void closeIntroDidTap();

    IntroViewControllerDelegate* delegate_ = nullptr;
    QPointer<QPushButton> closeButton_;
    QPointer<QLabel> hashtagField_;
};
