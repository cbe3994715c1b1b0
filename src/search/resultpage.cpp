#include "search/resultpage.h"

#include "common/filenames.h"
#include "search/candidatelistmodel.h"

#include <QVariantMap>

QString pageSnapshotScript()
{
    // Tables are counted per DIV; links are sent only for a DIV with exactly one table, since no other
    // DIV can yield rows. Nothing else is decided here.
    return QStringLiteral(R"JS(
(function () {
    var out = { url: String(document.URL || ''), divs: [], anchors: [] };
    var divs = document.getElementsByTagName('DIV');
    for (var i = 0; i < divs.length; ++i) {
        var d = divs[i];
        var tables = d.getElementsByTagName('TABLE');
        var entry = { cls: d.getAttribute('class') || '', tables: tables.length, links: [] };
        if (tables.length === 1) {
            var as = tables[0].getElementsByTagName('A');
            for (var j = 0; j < as.length; ++j)
                entry.links.push([String(as[j].innerText || ''), String(as[j].href || '')]);
        }
        out.divs.push(entry);
    }
    var anchors = document.getElementsByTagName('A');
    for (var k = 0; k < anchors.length; ++k)
        out.anchors.push(String(anchors[k].innerText || ''));
    return out;
})()
)JS");
}

QString clickAnchorScript(int anchorIndex)
{
    return QStringLiteral("(function () { var a = document.getElementsByTagName('A')[%1];"
                          " if (!a) return false; a.click(); return true; })()")
        .arg(anchorIndex);
}

PageSnapshot snapshotFromScriptResult(const QVariant &result)
{
    PageSnapshot page;
    if (result.typeId() != QMetaType::QVariantMap)
        return page;
    const QVariantMap map = result.toMap();
    if (!map.contains(QStringLiteral("divs")) || !map.contains(QStringLiteral("anchors")))
        return page;
    page.valid = true;
    page.documentAddress = map.value(QStringLiteral("url")).toString();
    for (const QVariant &d : map.value(QStringLiteral("divs")).toList()) {
        const QVariantMap entry = d.toMap();
        PageDiv div;
        div.className = entry.value(QStringLiteral("cls")).toString();
        div.tableCount = entry.value(QStringLiteral("tables")).toInt();
        for (const QVariant &l : entry.value(QStringLiteral("links")).toList()) {
            const QVariantList pair = l.toList();
            if (pair.size() == 2)
                div.tableLinks.append(PageLink{pair.at(0).toString(), pair.at(1).toString()});
        }
        page.divs.append(div);
    }
    for (const QVariant &a : map.value(QStringLiteral("anchors")).toList())
        page.anchorTexts.append(a.toString());
    return page;
}

int findPaperListDiv(const PageSnapshot &page)
{
    static const QString paperList = QStringLiteral("tablelist paperlist");
    for (int i = 0; i < page.divs.size(); ++i) {
        if (page.divs.at(i).className.toLower() == paperList)
            return i;
    }
    return -1;
}

int ExtractResultPage(const PageSnapshot &page, CandidateListModel &list, const QString &saveFolder)
{
    const int found = findPaperListDiv(page);
    if (found < 0)
        return 0;
    const PageDiv &div = page.divs.at(found);
    if (div.tableCount != 1)
        return 0;
    int added = 0;
    for (const PageLink &link : div.tableLinks) {
        if (link.text.isEmpty() || link.address.isEmpty())
            continue;
        if (list.加入LV1(link.text, link.address + QStringLiteral(".pdf"), page.documentAddress,
                         QStringLiteral("pdf"), saveFolder))
            ++added;
    }
    return added;
}

int findNextPageLink(const QStringList &anchorTexts)
{
    for (int i = 0; i < anchorTexts.size(); ++i) {
        if (TrimSpaces(anchorTexts.at(i).toLower()).left(7) == QStringLiteral(">"))
            return i;
    }
    return -1;
}
