#pragma once

#include <QString>

#include <functional>

class QFileInfo;

// What lies inside a master: the files below its root (the disk's root, or the folder given for
// a folder check), links followed. Nothing outside the root is part of the master, whatever a
// document or a link on the disk says, so nothing outside it is ever judged or hashed.

// The root's real path with one trailing "/"; empty when the root does not exist.
QString canonicalRootPrefix(const QString &masterRoot);

// Whether the real path of the file or folder at path lies inside the root given by its
// canonicalRootPrefix. False for what does not exist.
bool liesInside(const QString &rootPrefix, const QString &path);

// The file that an asset map's Path names, when it is a regular file of the master: the asset
// map's folder, "/" and the Path. Empty when the Path is absolute, carries a scheme, a drive
// letter or a stream name, climbs above the asset map's folder with "..", names no regular file,
// or leads (through links) outside the master root: such a file counts as not there.
QString assetFileInMaster(const QString &masterRoot, const QString &assetMapFolder,
                          const QString &assetPath);

// Walks the folders below a root depth first, each entry's folder before the next entry, in the
// order the file system lists them; hidden and system entries are left out. Every real folder is
// entered once, however many links lead to it, so a tree of links cannot make the walk
// exponential or endless; a link whose target lies outside the root is not followed.
class MasterWalk
{
public:
    enum FolderLinks { FollowFolderLinks, SkipFolderLinks };

    // stopRequested, when set, is asked once per folder; when it says so the walk ends.
    MasterWalk(const QString &root, FolderLinks folderLinks,
               std::function<bool()> stopRequested = {});

    // Calls visit for every file inside the root (a link to a file only when its target lies
    // inside the root). Returns false when the walk ended early: the stop check said so, or visit
    // returned false.
    bool run(const std::function<bool(const QFileInfo &)> &visit);

    int foldersWalked() const { return m_folders; }

private:
    QString m_root;
    FolderLinks m_folderLinks;
    std::function<bool()> m_stopRequested;
    int m_folders = 0;
};
