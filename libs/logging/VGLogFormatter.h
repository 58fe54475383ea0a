#pragma once

#include <QString>

#include <memory>
#include <optional>

class VGLogMessage;
class VGLogger;

// Turns a message into the text a logger writes; no value drops the message for
// that logger. Called on the logger's queue.
class VGLogFormatter {
public:
    virtual ~VGLogFormatter() = default;

    virtual std::optional<QString> formatLogMessage(const VGLogMessage& message) = 0;
    virtual void didAddToLogger(VGLogger* /*logger*/) {}
    virtual void willRemoveFromLogger(VGLogger* /*logger*/) {}
};

using VGLogFormatterPtr = std::shared_ptr<VGLogFormatter>;
