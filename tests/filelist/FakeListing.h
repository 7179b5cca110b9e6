#pragma once

#include "filelist/FolderListing.h"
#include "filelist/QtText.h"

#include <QHash>
#include <functional>
#include <memory>

// A folder tree held in memory: folder path (with its trailing separator) -> sub-folder and file
// names in listing order. A folder named in `failing` cannot be listed.
struct FakeTree {
    struct Folder {
        QStringList subFolders;
        QStringList files;
    };
    QHash<QString, Folder> folders;
    QString failing;
    QStringList existsAsked;
    std::function<void(const QString&)> onList;

    FolderListingFactory factory()
    {
        return [this] { return std::make_unique<Listing>(*this); };
    }

    class Listing : public FolderListing {
    public:
        explicit Listing(FakeTree& tree)
            : m_tree(tree)
        {
        }
        bool FolderExists(const Text& text) override
        {
            const QString path = ToQString(text);
            m_tree.existsAsked << path;
            return m_tree.folders.contains(path) || m_tree.folders.contains(path + QLatin1Char('/'));
        }
        TextList SubFolders(const Text& folder) override { return Names(find(ToQString(folder)).subFolders); }
        TextList Files(const Text& folder) override { return Names(find(ToQString(folder)).files); }

    private:
        static TextList Names(const QStringList& names)
        {
            TextList out;
            for (const QString& name : names)
                out.push_back(ToText(name));
            return out;
        }
        const Folder& find(const QString& folder)
        {
            if (m_tree.onList)
                m_tree.onList(folder);
            if (folder == m_tree.failing)
                throw ListingError(ToText(folder), u"Permission denied");
            static const Folder none;
            auto it = m_tree.folders.constFind(folder);
            return it == m_tree.folders.constEnd() ? none : *it;
        }
        FakeTree& m_tree;
    };
};
