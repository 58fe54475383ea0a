#include "shell/IntroViewController.h"

#include "kit/QtColor.h"

#include "ConsoleLog.h"
#include "Themes/Themeset.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>

IntroViewController::IntroViewController(QObject* parent) : ViewController(parent)
{
    addHandler(Selector("openQuickly:"), [this](QObject*) {
        if (delegate_)
            delegate_->introControllerDidTryQuickOpen(*this);
    });
}

IntroViewController::~IntroViewController()
{
    consoleLog(QStringLiteral("intro dealloc!"));
}

QWidget* IntroViewController::loadView()
{
    auto* view = new QWidget;
    view->setFocusPolicy(Qt::StrongFocus);
    auto* title = new QLabel(QCoreApplication::translate("Intro", "Welcome"), view);
    QFont large = title->font();
    large.setPointSizeF(large.pointSizeF() * 1.6);
    large.setBold(true);
    title->setFont(large);
    title->setAlignment(Qt::AlignCenter);
    hashtagField_ = new QLabel(view);
    hashtagField_->setWordWrap(true);
    closeButton_ = new QPushButton(QCoreApplication::translate("Intro", "Get Started"), view);

    auto* column = new QVBoxLayout(view);
    column->setContentsMargins(40, 40, 40, 30);
    column->setSpacing(20);
    column->addWidget(title);
    column->addWidget(hashtagField_, 1);
    column->addWidget(closeButton_, 0, Qt::AlignHCenter);
    return view;
}

QString IntroViewController::hintText()
{
    QTextDocument document(QCoreApplication::translate("Intro", "Notes with #hashtag and @mention are grouped together in Sidebar"));
    QTextCursor all(&document);
    all.select(QTextCursor::Document);
    QTextBlockFormat centred;
    centred.setAlignment(Qt::AlignHCenter);
    all.mergeBlockFormat(centred);
    QTextCharFormat tinted;
    tinted.setForeground(toQColor(Themeset::tintColorForTheme(0)));
    for (const QString& word : {QCoreApplication::translate("Intro", "#hashtag"), QCoreApplication::translate("Intro", "@mention")}) {
        const QTextCursor found = document.find(word);
        if (found.isNull())
            continue;
        QTextCursor(found).mergeCharFormat(tinted);
    }
    return document.toHtml();
}

void IntroViewController::viewDidLoad()
{
    hashtagField_->setTextFormat(Qt::RichText);
    hashtagField_->setText(hintText());
    closeButton_->setShortcut(QKeySequence(Qt::Key_Return));
    QObject::connect(closeButton_, &QPushButton::clicked, this, [this] { closeIntroDidTap(); });
}

void IntroViewController::viewDidAppear()
{
    view()->setFocus();
    closeButton_->setDefault(true);
}

void IntroViewController::closeIntroDidTap()
{
    if (delegate_)
        delegate_->introControllerDismissDidTap(*this);
}
