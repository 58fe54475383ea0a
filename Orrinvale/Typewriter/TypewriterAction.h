#pragma once

#include <cstdint>

// The one numbering of the editor's formatting commands; menus and the engine share it.
enum TypewriterAction : int64_t {
    TypewriterActionHeading1 = 0,
    TypewriterActionHeading2 = 1,
    TypewriterActionHeading3 = 2,
    TypewriterActionHeading4 = 3,
    TypewriterActionHeading5 = 4,
    TypewriterActionHeading6 = 5,
    TypewriterActionBold = 6,
    TypewriterActionItalic = 7,
    TypewriterActionStrikethrough = 8,
    TypewriterActionCode = 9,
    TypewriterActionUnorderedList = 10,
    TypewriterActionOrderedList = 11,
    TypewriterActionTodoList = 12,
    TypewriterActionTodoListComplete = 13,
    TypewriterActionAddLink = 14,
    TypewriterActionShiftLeft = 15,
    TypewriterActionShiftRight = 16,
    TypewriterActionMoveLineUp = 17,
    TypewriterActionMoveLineDown = 18,
    TypewriterActionClearFormatting = 19,
};
