#pragma once

#include "Error.h"
#include "files/FileTimes.h"

#include <QByteArray>
#include <QString>

#include <optional>

#include <functional>

// One note's text as a document in the sync folder: read as UTF-8, or as
// UTF-16 or UTF-32 with a byte-order mark, always written as UTF-8 without one.
// Every save is explicit and atomic, in place: no autosave timer runs.
class AppleDocument {
public:
    static constexpr int UndecodableCode = -4;
    static inline const QString DocumentType = QStringLiteral("public.text");

    explicit AppleDocument(QString path)
        : path_(std::move(path))
    {
    }
    // The document at path, or nothing when it cannot be read or decoded.
    static std::optional<AppleDocument> open(const QString& path);

    // Fails with NSOSStatusErrorDomain -4, leaving the text alone.
    bool readFromData(const QByteArray& data, Error* error = nullptr);
    QByteArray data() const { return text_.toUtf8(); }
    // With a date, the file appears with it: written and dated under a hidden
    // name, then renamed into place, so no reader sees it undated.
    bool save(Error* error = nullptr, const std::optional<FileTime>& date = std::nullopt) const;

    const QString& path() const { return path_; }
    const QString& text() const { return text_; }
    void setText(const QString& text) { text_ = text; }
    std::optional<FileTime> fileModificationDate() const;
    const QString& fileType() const { return DocumentType; }
    // The file's name; logged.
    QString localizedName() const;
    // The folder watch found the file deleted by another process: logged, and
    // the completion lets the deletion go ahead.
    void accommodatePresentedItemDeletion(const std::function<void(const Error& error)>& completion) const;

private:
    QString path_;
    QString text_;
};
