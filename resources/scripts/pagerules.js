// Reads a result page by the site's rules inside the page and returns plain data: the page's links with
// the metadata of each paper, the next-page link, and the selectors that matched nothing or were refused.
// The rules come in as a JSON value; nothing of them is code. Every selector is tried on an empty fragment
// first, so a selector the browser refuses is reported and no paper is read by half the rules. Each link
// comes with its metadata: the other cells of its table row under their column headers, or the text of each
// field's element inside the item, cut to a bounded number and length.
(function (rules, maxCells) {
    var maxText = 2000;
    var out = { url: String(document.URL || ''), anchors: [], next: -1, unmatched: [], rejected: [] };
    if (!rules.listClass) out.items = [];
    function text(el) { return String(el.innerText || '').slice(0, maxText); }
    var probe = document.createDocumentFragment();
    function check(selector, field) {
        if (!selector) return;
        try { probe.querySelector(selector); } catch (e) { out.rejected.push(field); }
    }
    check(rules.list, 'papers.list');
    check(rules.item, 'papers.item');
    check(rules.link, 'papers.link');
    check(rules.title, 'papers.title');
    check(rules.next, 'nextPage');
    for (var f = 0; f < rules.fields.length; ++f) check(rules.fields[f][1], 'metadata.fields.' + rules.fields[f][0]);
    var anchors = document.getElementsByTagName('A');
    for (var k = 0; k < anchors.length; ++k) out.anchors.push(String(anchors[k].innerText || ''));
    if (out.rejected.length) return out;
    // Column headers by column number: the first row holding a TH, else the table head's first row.
    function headers(table) {
        var row = null;
        for (var r = 0; r < table.rows.length && !row; ++r)
            for (var c = 0; c < table.rows[r].cells.length; ++c)
                if (table.rows[r].cells[c].tagName === 'TH') { row = table.rows[r]; break; }
        if (!row && table.tHead && table.tHead.rows.length) row = table.tHead.rows[0];
        var names = [];
        if (!row) return { row: null, names: names };
        for (var i = 0; i < row.cells.length && names.length < 200; ++i) {
            var span = Math.max(1, Math.min(row.cells[i].colSpan || 1, 50));
            for (var s = 0; s < span; ++s) names.push(text(row.cells[i]));
        }
        return { row: row, names: names };
    }
    // The other cells of the link's own row of its table, as [header, text] pairs.
    var heads = [];
    function columns(link) {
        var table = link.closest('table');
        if (!table) return [];
        var head = null;
        for (var h = 0; h < heads.length && !head; ++h) if (heads[h].table === table) head = heads[h].head;
        if (!head) { head = headers(table); heads.push({ table: table, head: head }); }
        var row = link.closest('tr');
        if (!row || row === head.row || row.closest('table') !== table) return [];
        var cells = [], col = 0;
        for (var i = 0; i < row.cells.length && cells.length < maxCells; ++i) {
            var cell = row.cells[i];
            var name = col < head.names.length ? head.names[col] : '';
            col += Math.max(1, Math.min(cell.colSpan || 1, 50));
            if (!cell.contains(link) && name !== '') cells.push([name, text(cell)]);
        }
        return cells;
    }
    function address(el) {
        if (typeof el.href === 'string') return el.href;
        var href = el.getAttribute('href');
        if (!href) return '';
        try { return String(new URL(href, document.baseURI)); } catch (e) { return ''; }
    }
    if (rules.listClass) {
        // The classic table list: every DIV with its class and table count, and the links of the one
        // table of each DIV that has exactly one; which DIV is the list is decided by the program.
        out.divs = [];
        var divs = document.getElementsByTagName('DIV');
        for (var d = 0; d < divs.length; ++d) {
            var tables = divs[d].getElementsByTagName('TABLE');
            var entry = { cls: divs[d].getAttribute('class') || '', tables: tables.length, links: [] };
            if (tables.length === 1) {
                var as = tables[0].getElementsByTagName('A');
                for (var j = 0; j < as.length && j < rules.maxItems; ++j)
                    entry.links.push([String(as[j].innerText || ''), String(as[j].href || ''),
                                      rules.columns ? columns(as[j]) : []]);
            }
            out.divs.push(entry);
        }
    }
    var root = rules.listClass ? null : document;
    if (root && rules.list) {
        root = document.querySelector(rules.list);
        if (!root) out.unmatched.push('papers.list');
        else if (rules.listTables >= 0 && root.getElementsByTagName('TABLE').length !== rules.listTables) {
            out.unmatched.push('papers.listTables');
            root = null;
        }
    }
    if (root) {
        var items = root.querySelectorAll(rules.item);
        var seen = { link: false, title: false };
        for (var i = 0; i < items.length && out.items.length < rules.maxItems; ++i) {
            var item = items[i];
            var link = rules.link ? item.querySelector(rules.link) : item;
            if (!link) continue;
            seen.link = true;
            var titled = rules.title ? item.querySelector(rules.title) : link;
            if (titled) seen.title = true;
            var cells = [];
            if (rules.columns) cells = columns(link);
            for (var f = 0; f < rules.fields.length && cells.length < maxCells; ++f) {
                var el = item.querySelector(rules.fields[f][1]);
                if (el) { cells.push([rules.fields[f][0], text(el)]); seen['f' + f] = true; }
            }
            out.items.push([titled ? String(titled.innerText || '') : '', address(link), cells]);
        }
        if (!items.length) out.unmatched.push('papers.item');
        else {
            if (rules.link && !seen.link) out.unmatched.push('papers.link');
            if (rules.title && !seen.title) out.unmatched.push('papers.title');
            for (var f = 0; f < rules.fields.length; ++f)
                if (!seen['f' + f]) out.unmatched.push('metadata.fields.' + rules.fields[f][0]);
        }
    }
    if (rules.next) {
        var next = document.querySelector(rules.next);
        if (next && next.tagName !== 'A') next = next.closest('a');
        out.next = next ? Array.prototype.indexOf.call(anchors, next) : -1;
        if (!next) out.unmatched.push('nextPage');
    }
    return out;
})
