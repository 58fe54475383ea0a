#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

#include <memory>

// Named interface scenes: each builds a top-level widget in a fixed size, theme and state, shown and
// laid out, ready to grab. ui_shot renders them; the tests run the same builders.
namespace UiScenes {

QStringList names();
// Null for an unknown name. Animations run at duration 0 while a scene is built.
std::unique_ptr<QWidget> build(const QString& name);

} // namespace UiScenes
