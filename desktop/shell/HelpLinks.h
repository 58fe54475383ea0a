#pragma once

#include <QList>
#include <QString>
#include <QUrl>

// Where the help menu leads: the support address, the maker's pages and the documents installed
// beside the program.
namespace HelpLinks {

QString supportAddress();

struct Page {
    const char* action; // the menu action, "showSyntax:"
    const char* url;
};
const QList<Page>& pages();

// Opens a page, mail or file with the user's application for it, without waiting for the result.
// Where the platform plugin cannot, xdg-open is asked directly.
void openURL(const QUrl& url);

// <program folder>/../share/brindlewick/<name>: the installed layout and the build tree's alike.
QString resourcePath(const QString& name);

} // namespace HelpLinks
