#include "core/cache/cachecleaner.h"

#include "core/cache/cachestore.h"
#include "core/cache/forcedelete.h"

#include <optional>

namespace {

class RowRule
{
public:
    explicit RowRule(const DeleteScope &scope) : m_scope(scope) {}

    void apply(const CacheRow &row)
    {
        if (row.text.startsWith(kUserRowPrefix)) {
            if (row.type.toLower() != u"txt" && !row.path.isEmpty())
                强制删除(m_scope.userCacheRoots, row.path);
            return;
        }
        if (row.text.isEmpty() || row.text.contains(QStringLiteral("Cookie"), Qt::CaseInsensitive))
            return;
        myStore().removeEntry(row.text);
        if (!row.path.isEmpty())
            强制删除({m_scope.myCache}, row.path);
    }

private:
    // The store is read once per command, when the first row of the current user's cache needs it.
    CacheStore &myStore()
    {
        if (!m_store) {
            m_store.emplace(m_scope.myCache);
            m_store->load();
        }
        return *m_store;
    }

    const DeleteScope &m_scope;
    std::optional<CacheStore> m_store;
};

} // namespace

void deleteCacheRows(const QList<CacheRow> &rows, const QList<bool> *selected, const DeleteScope &scope,
                     const std::atomic_bool *cancel)
{
    RowRule rule(scope);
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (cancel && cancel->load())
            return;
        if (!selected || (i < selected->size() && selected->at(i)))
            rule.apply(rows.at(i));
    }
    删除空文件夹(scope.userCacheRoots, scope.CacheFolders);
}
