#include "VGContextBlacklistFilterLogFormatter.h"

#include "VGLogMessage.h"

std::optional<QString> VGContextBlacklistFilterLogFormatter::formatLogMessage(const VGLogMessage& message)
{
    if (!contextSet_.isInSet(message.logContext()))
        return message.logMsg();
    return std::nullopt;
}
