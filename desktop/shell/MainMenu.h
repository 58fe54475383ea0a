#pragma once

class QMenu;
class QMainWindow;

// The application's menu bar: every command as a MenuItem sending its selector along the window's
// responder chain, Ctrl standing for Command. Items are validated when their menu opens and whenever
// the focus moves, so a shortcut is live exactly when its item would be enabled.
namespace MainMenu {

// Fills the window's menu bar; returns the submenu of the "shareNote:" item, left empty.
QMenu* install(QMainWindow& window);

} // namespace MainMenu
