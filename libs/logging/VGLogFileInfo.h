#pragma once

#include <QString>

#include <cstdint>
#include <optional>

// One log file on disk. Attributes are read on first use and cached until reset().
// The archived flag lives on the file itself, as an extended attribute.
class VGLogFileInfo {
public:
    static inline const char* const ArchivedAttribute = "user.vg.log.archived";

    explicit VGLogFileInfo(QString filePath);

    const QString& filePath() const { return filePath_; }
    QString fileName() const;
    // The birth time; where the file system keeps none, the date in the file's
    // name, then the modification time. No value when the file cannot be read.
    std::optional<double> creationDate() const;
    std::optional<double> modificationDate() const;
    // 0 when unreadable; a 0 is read again next time.
    uint64_t fileSize() const;
    // Seconds since creation on the wall clock.
    double age() const;

    bool isArchived() const;
    void setIsArchived(bool archived);
    void addExtendedAttributeWithName(const char* name);
    void removeExtendedAttributeWithName(const char* name);
    bool hasExtendedAttributeWithName(const char* name) const;

    void reset();
    // Renames within the folder, replacing a file of that name.
    void renameFile(const QString& newName);

    bool operator==(const VGLogFileInfo& other) const { return filePath_ == other.filePath_; }
    // Newest first.
    static bool isNewerByCreationDate(const VGLogFileInfo& a, const VGLogFileInfo& b);
    static bool isNewerByModificationDate(const VGLogFileInfo& a, const VGLogFileInfo& b);
    QString description() const;

private:
    struct Attributes {
        std::optional<double> birth;
        double modification = 0;
        uint64_t size = 0;
    };
    const std::optional<Attributes>& attributes() const;

    QString filePath_;
    mutable std::optional<std::optional<Attributes>> attributes_;
    mutable uint64_t fileSize_ = 0;
};
