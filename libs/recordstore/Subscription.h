#pragma once

#include "Predicate.h"

// A standing query: the store adds a push for every save or delete of a record
// of the type that the predicate takes, as the options say.
struct Subscription {
    enum Option : int { FiresOnRecordCreation = 1, FiresOnRecordUpdate = 2, FiresOnRecordDeletion = 4 };
    struct NotificationInfo {
        bool shouldSendContentAvailable = false;
        QString alertBody; // empty: none
    };

    QString subscriptionID; // empty: the store assigns one on save
    QString recordType;
    Predicate predicate;
    int options = 0;
    NotificationInfo notificationInfo;
};
