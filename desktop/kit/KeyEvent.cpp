#include "kit/KeyEvent.h"

#include <QKeyEvent>

namespace {

// The character a key types on its own, or null when it types its text.
char16_t specialCharacter(int key)
{
    switch (key) {
    case Qt::Key_Up:
        return FunctionKey::UpArrow;
    case Qt::Key_Down:
        return FunctionKey::DownArrow;
    case Qt::Key_Left:
        return FunctionKey::LeftArrow;
    case Qt::Key_Right:
        return FunctionKey::RightArrow;
    case Qt::Key_Delete:
        return FunctionKey::ForwardDelete;
    case Qt::Key_Home:
        return FunctionKey::Home;
    case Qt::Key_End:
        return FunctionKey::End;
    case Qt::Key_PageUp:
        return FunctionKey::PageUp;
    case Qt::Key_PageDown:
        return FunctionKey::PageDown;
    case Qt::Key_Enter:
        return KeyCharacter::Enter;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return KeyCharacter::Tab;
    case Qt::Key_Return:
        return KeyCharacter::Return;
    case Qt::Key_Escape:
        return KeyCharacter::Escape;
    case Qt::Key_Backspace:
        return KeyCharacter::Backspace;
    }
    if (key >= Qt::Key_F1 && key <= Qt::Key_F35)
        return char16_t(FunctionKey::F1 + (key - Qt::Key_F1));
    return 0;
}

uint64_t flagsFor(const QKeyEvent& event)
{
    const Qt::KeyboardModifiers mods = event.modifiers();
    uint64_t flags = 0;
    if (mods & Qt::ShiftModifier || event.key() == Qt::Key_Backtab)
        flags |= KeyEvent::ShiftKey;
    if (mods & Qt::ControlModifier)
        flags |= KeyEvent::CommandKey;
    if (mods & Qt::AltModifier)
        flags |= KeyEvent::OptionKey;
    if (mods & Qt::MetaModifier)
        flags |= KeyEvent::ControlKey;
    if (mods & Qt::KeypadModifier)
        flags |= KeyEvent::NumericPadKey;
    return flags;
}

// What the key types with Shift at most: letters from the key code, since Ctrl turns the text into
// control characters.
QString unmodifiedText(const QKeyEvent& event, bool shift)
{
    const int key = event.key();
    if (key >= Qt::Key_A && key <= Qt::Key_Z) {
        const QChar letter(char16_t(u'a' + (key - Qt::Key_A)));
        return shift ? QString(letter.toUpper()) : QString(letter);
    }
    const QString text = event.text();
    if (!text.isEmpty() && !text.front().isNull() && text.front().category() != QChar::Other_Control)
        return text;
    if (key > 0x1f && key < 0x7f)
        return QString(QChar(char16_t(key)));
    return QString();
}

} // namespace

KeyEvent KeyEvent::fromQt(const QKeyEvent& event)
{
    KeyEvent result;
    result.modifierFlags = flagsFor(event);
    if (const char16_t special = specialCharacter(event.key())) {
        if (special >= FunctionKey::UpArrow)
            result.modifierFlags |= FunctionKeyFlag;
        if (special >= FunctionKey::UpArrow && special <= FunctionKey::RightArrow)
            result.modifierFlags |= NumericPadKey;
        result.characters = result.charactersIgnoringModifiers = QString(QChar(special));
        return result;
    }
    result.charactersIgnoringModifiers = unmodifiedText(event, result.has(ShiftKey));
    const QString text = event.text();
    const bool printable = !text.isEmpty() && text.front().category() != QChar::Other_Control;
    result.characters = printable ? text : result.charactersIgnoringModifiers;
    return result;
}
