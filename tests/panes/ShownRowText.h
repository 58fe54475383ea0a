#pragma once

#include "panes/ListEntryCell.h"
#include "panes/ListViewController.h"
#include "panes/TableBridge.h"
#include "views/AttributedLabel.h"

// The text the list's row for the note shows; empty when the note has no row on screen.
inline QString shownRowText(ListViewController& list, const QString& key)
{
    for (int64_t row = 0; row < list.items().size(); ++row)
        if (list.items().at(row)->key() == key) {
            auto* cell = dynamic_cast<ListEntryCell*>(list.tableBridge()->rowView(row, ListViewController::Notes, true));
            return cell && cell->titleLabel()->attributedText() ? cell->titleLabel()->attributedText()->string() : QString();
        }
    return QString();
}
