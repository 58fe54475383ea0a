#include "Store/ListItem.h"

ListItem::ListItem(int tag, const QString& key, const QString& title, const QString& snippet, int storage,
                   double score)
    : tag_(tag), score_(score), storage_(storage), key_(key), title_(title), snippet_(snippet)
{
}

void ListItem::setKey(const QString& key)
{
    key_ = key;
}

void ListItem::setTitle(const QString& title)
{
    title_ = title;
}

void ListItem::setSnippet(const QString& snippet)
{
    snippet_ = snippet;
}

void ListItem::setAttributedText(std::shared_ptr<const AttributedString> text)
{
    attributedText_ = std::move(text);
}
