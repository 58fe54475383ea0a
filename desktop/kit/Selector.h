#pragma once

#include <QByteArray>
#include <QHashFunctions>

// The name of an action, "newDocument:" style. Menu items, buttons and responders meet on it.
class Selector {
public:
    Selector() = default;
    explicit Selector(const char* name) : name_(name) {}
    explicit Selector(QByteArray name) : name_(std::move(name)) {}

    const QByteArray& name() const { return name_; }
    bool isNull() const { return name_.isEmpty(); }
    bool operator==(const Selector&) const = default;

private:
    QByteArray name_;
};

inline size_t qHash(const Selector& selector, size_t seed = 0) { return qHash(selector.name(), seed); }
