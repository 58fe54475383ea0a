#pragma once

#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>

class AttributedString;

// Kinds of list rows; 0 is a plain note row made by the list panes.
constexpr int ListItemTitleMatch = 1;
constexpr int ListItemContentMatch = 2;
constexpr int ListItemFuzzyMatch = 3;
constexpr int ListItemTagEntry = 4;

// One row of a note list or of search results. The list panes fill the dates,
// the snippet builder the styled text. Scalars may be read from any thread;
// the strings and the styled text belong to whichever queue holds the row.
class ListItem {
public:
    ListItem() = default;
    ListItem(int tag, const QString& key, const QString& title, const QString& snippet, int storage,
             double score = 0);
    ListItem(const ListItem&) = delete;
    ListItem& operator=(const ListItem&) = delete;

    int tag() const { return tag_; }
    void setTag(int tag) { tag_ = tag; }
    double score() const { return score_; }
    void setScore(double score) { score_ = score; }
    int storage() const { return storage_; }
    void setStorage(int storage) { storage_ = storage; }
    int64_t createdOn() const { return createdOn_; }
    void setCreatedOn(int64_t seconds) { createdOn_ = seconds; }
    int64_t updatedOn() const { return updatedOn_; }
    void setUpdatedOn(int64_t seconds) { updatedOn_ = seconds; }

    // The note's file name; a tag entry's display spelling; null for a storage entry.
    const QString& key() const { return key_; }
    void setKey(const QString& key);
    // A fuzzy row carries the query here, for the snippet builder's highlighting.
    const QString& title() const { return title_; }
    void setTitle(const QString& title);
    // An entry's snippet is the query.
    const QString& snippet() const { return snippet_; }
    void setSnippet(const QString& snippet);
    // Null until the snippet builder has styled the row.
    const std::shared_ptr<const AttributedString>& attributedText() const { return attributedText_; }
    void setAttributedText(std::shared_ptr<const AttributedString> text);

private:
    std::atomic<int> tag_ = 0;
    std::atomic<double> score_ = 0;
    std::atomic<int> storage_ = 0;
    std::atomic<int64_t> createdOn_ = 0;
    std::atomic<int64_t> updatedOn_ = 0;
    QString key_;
    QString title_;
    QString snippet_;
    std::shared_ptr<const AttributedString> attributedText_;
};

using ListItemPtr = std::shared_ptr<ListItem>;
