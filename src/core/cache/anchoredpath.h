#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// A folder reached from a trusted starting folder (opened the ordinary way, links in it allowed) by
// steps that are each opened without following a symbolic link. Everything the cache viewer reads,
// changes or deletes is reached this way, one directory descriptor after the other, so a link planted
// in a cache, or a folder swapped for a link while a command runs, cannot lead it anywhere else.
struct AnchoredPath
{
    QString anchor;
    QStringList steps;

    // anchor and steps joined with "/", without a trailing "/".
    QString path() const;
    AnchoredPath child(const QString &name) const;
    AnchoredPath parent() const; // one step less; the anchor itself has no parent here
    QString lastStep() const { return steps.isEmpty() ? QString() : steps.last(); }

    // The given full path as anchor "/" with every component a step.
    static AnchoredPath fromAbsolute(const QString &path);
    // anchor = the folder holding the path's last component, step = that component.
    static AnchoredPath lastComponentGuarded(const QString &path);

    bool operator==(const AnchoredPath &other) const = default;
};

// The path below one of the roots that the given text names: the root whose path is the longest proper
// prefix of it (at a "/"), extended by the remaining components. Nothing when the text lies outside
// every root, is a root itself, or has empty, "." or ".." components.
std::optional<AnchoredPath> anchorBelow(const QList<AnchoredPath> &roots, const QString &path);

// An owned file descriptor.
class UniqueFd
{
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    UniqueFd(UniqueFd &&other) noexcept : m_fd(other.release()) {}
    UniqueFd &operator=(UniqueFd &&other) noexcept;
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;
    ~UniqueFd();

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int release();

private:
    int m_fd = -1;
};

// Opens the folder as a directory; errno-style code in *error on failure (ELOOP for a link step).
UniqueFd openAnchoredFolder(const AnchoredPath &folder, int *error = nullptr);
// Opens a subfolder of an open folder without following a link.
UniqueFd openSubfolder(int folderFd, const QString &name, int *error = nullptr);
