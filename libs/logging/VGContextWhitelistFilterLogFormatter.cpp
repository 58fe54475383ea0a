#include "VGContextWhitelistFilterLogFormatter.h"

#include "VGLogMessage.h"

std::optional<QString> VGContextWhitelistFilterLogFormatter::formatLogMessage(const VGLogMessage& message)
{
    if (contextSet_.isInSet(message.logContext()))
        return message.logMsg();
    return std::nullopt;
}
