#include "core/search/resultpage.h"

#include "core/common/filenames.h"
#include "core/search/candidatelistmodel.h"

#include <QVariantMap>

QString pageSnapshotScript()
{
    // Tables are counted per DIV; links are sent only for a DIV with exactly one table, since no other
    // DIV can yield rows. Nothing else is decided here. Each link comes with the other cells of its row
    // under their column headers, cut to a bounded number and length.
    return QStringLiteral(R"JS(
(function () {
    var maxCells = %1, maxText = 2000;
    function text(el) { return String(el.innerText || '').slice(0, maxText); }
    // Column headers by column number: the first row holding a TH, else the table head's first row.
    function headers(table) {
        var row = null;
        for (var r = 0; r < table.rows.length && !row; ++r)
            for (var c = 0; c < table.rows[r].cells.length; ++c)
                if (table.rows[r].cells[c].tagName === 'TH') { row = table.rows[r]; break; }
        if (!row && table.tHead && table.tHead.rows.length) row = table.tHead.rows[0];
        var out = [];
        if (!row) return { row: null, names: out };
        for (var i = 0; i < row.cells.length && out.length < 200; ++i) {
            var span = Math.max(1, Math.min(row.cells[i].colSpan || 1, 50));
            for (var s = 0; s < span; ++s) out.push(text(row.cells[i]));
        }
        return { row: row, names: out };
    }
    // The other cells of the link's own row of this table, as [header, text] pairs.
    function cells(link, table, head) {
        var row = link.closest('tr');
        if (!row || row === head.row || row.closest('table') !== table) return [];
        var out = [], col = 0;
        for (var i = 0; i < row.cells.length && out.length < maxCells; ++i) {
            var cell = row.cells[i];
            var name = col < head.names.length ? head.names[col] : '';
            col += Math.max(1, Math.min(cell.colSpan || 1, 50));
            if (!cell.contains(link) && name !== '') out.push([name, text(cell)]);
        }
        return out;
    }
    var out = { url: String(document.URL || ''), divs: [], anchors: [] };
    var divs = document.getElementsByTagName('DIV');
    for (var i = 0; i < divs.length; ++i) {
        var d = divs[i];
        var tables = d.getElementsByTagName('TABLE');
        var entry = { cls: d.getAttribute('class') || '', tables: tables.length, links: [] };
        if (tables.length === 1) {
            var head = headers(tables[0]);
            var as = tables[0].getElementsByTagName('A');
            for (var j = 0; j < as.length; ++j)
                entry.links.push([String(as[j].innerText || ''), String(as[j].href || ''), cells(as[j], tables[0], head)]);
        }
        out.divs.push(entry);
    }
    var anchors = document.getElementsByTagName('A');
    for (var k = 0; k < anchors.length; ++k)
        out.anchors.push(String(anchors[k].innerText || ''));
    return out;
})()
)JS")
        .arg(MaxPaperCells);
}

namespace {
// Header and text of every cell, tidied; cells without a header are left out.
PaperCells cellsFromScript(const QVariant &value)
{
    PaperCells cells;
    for (const QVariant &c : value.toList()) {
        const QVariantList pair = c.toList();
        if (pair.size() != 2)
            continue;
        const QString header = TidyCellText(pair.at(0).toString(), MaxHeaderLength);
        if (!header.isEmpty())
            cells.append(PaperCell{header, TidyCellText(pair.at(1).toString())});
        if (cells.size() >= MaxPaperCells)
            break;
    }
    return cells;
}
} // namespace

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
            const QVariantList fields = l.toList();
            if (fields.size() >= 2)
                div.tableLinks.append(
                    PageLink{fields.at(0).toString(), fields.at(1).toString(),
                             fields.size() >= 3 ? cellsFromScript(fields.at(2)) : PaperCells{}});
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
                         QStringLiteral("pdf"), saveFolder, link.cells))
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
