#pragma once

#include <QString>

#include <cstdint>

class QKeyEvent;

// A key press as the editor and the panes read it: the characters typed, the characters of the key
// without modifiers but Shift, and modifier flags. Ctrl stands for Command, Alt for Option, Meta for
// Control. Arrows and the other function keys type the private-use characters of FunctionKey.
struct KeyEvent {
    enum ModifierFlag : uint64_t {
        ShiftKey = 1u << 17,
        ControlKey = 1u << 18,
        OptionKey = 1u << 19,
        CommandKey = 1u << 20,
        NumericPadKey = 1u << 21,
        FunctionKeyFlag = 1u << 23,
    };

    QString characters;
    QString charactersIgnoringModifiers;
    uint64_t modifierFlags = 0;

    static KeyEvent fromQt(const QKeyEvent& event);
    bool has(ModifierFlag flag) const { return modifierFlags & flag; }
};

namespace FunctionKey {
constexpr char16_t UpArrow = 0xF700;
constexpr char16_t DownArrow = 0xF701;
constexpr char16_t LeftArrow = 0xF702;
constexpr char16_t RightArrow = 0xF703;
constexpr char16_t F1 = 0xF704;
constexpr char16_t ForwardDelete = 0xF728;
constexpr char16_t Home = 0xF729;
constexpr char16_t End = 0xF72B;
constexpr char16_t PageUp = 0xF72C;
constexpr char16_t PageDown = 0xF72D;
} // namespace FunctionKey

// The characters that keys without a printable text type.
namespace KeyCharacter {
constexpr char16_t Enter = 0x03;
constexpr char16_t Tab = 0x09;
constexpr char16_t Return = 0x0D;
constexpr char16_t Escape = 0x1B;
constexpr char16_t Backspace = 0x7F;
} // namespace KeyCharacter
