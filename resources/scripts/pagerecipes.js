// Reads a result page by site rules of format 2 inside the page and returns plain data: for every paper
// item, the values each recipe finds (raw texts or attribute values, addresses made absolute), the
// page's anchors, the next-page link, and the selectors that matched nothing or were refused. The rules
// come in as a JSON value; nothing of them is code. The program tidies the values (folds spaces, keeps
// what a pattern matches, joins lists), so that every rule about them runs without a browser.
(function (rules) {
    var maxText = 2000;
    var out = { url: String(document.URL || ''), anchors: [], next: -1, unmatched: [], rejected: [],
                items: [], recipes: rules.recipes.length };
    var probe = document.createDocumentFragment();
    for (var p = 0; p < rules.probes.length; ++p) {
        try { probe.querySelector(rules.probes[p][1]); } catch (e) { out.rejected.push(rules.probes[p][0]); }
    }
    var anchors = document.getElementsByTagName('A');
    for (var k = 0; k < anchors.length; ++k) out.anchors.push(String(anchors[k].innerText || ''));
    if (out.rejected.length) return out;

    var linkAttributes = { href: 1, src: 1, action: 1, cite: 1, formaction: 1, poster: 1, data: 1 };
    function absolute(value) {
        try { return String(new URL(value, document.baseURI)).slice(0, 8192); } catch (e) { return ''; }
    }
    function excluded(el) { return !!rules.exclude && el.matches(rules.exclude); }

    // The text as a reader sees it, without the elements `leaveOut` matches: text of hidden elements,
    // scripts and styles is passed over, and elements that break the line break the text.
    function visibleText(el, leaveOut) {
        var parts = [], length = 0, stack = [el.firstChild];
        while (stack.length && length < maxText) {
            var node = stack.pop();
            if (!node) continue;
            stack.push(node.nextSibling);
            if (node.nodeType === 3) { parts.push(node.nodeValue); length += node.nodeValue.length; continue; }
            if (node.nodeType !== 1 || node.matches(leaveOut)) continue;
            var tag = node.tagName;
            if (tag === 'SCRIPT' || tag === 'STYLE' || tag === 'TEMPLATE' || tag === 'NOSCRIPT') continue;
            if (tag === 'BR') { parts.push('\n'); continue; }
            var display = getComputedStyle(node).display;
            if (display === 'none') continue;
            if (display.indexOf('inline') !== 0) { parts.push('\n'); stack.push(document.createTextNode('\n')); }
            stack.push(node.firstChild);
        }
        return parts.join('').slice(0, maxText);
    }

    function valueOf(el, recipe) {
        if (recipe.attr) {
            var raw = el.getAttribute(recipe.attr);
            if (raw === null) return null;
            return recipe.address || linkAttributes[recipe.attr] ? absolute(raw) : String(raw).slice(0, maxText);
        }
        if (recipe.exclude) return visibleText(el, recipe.exclude);
        return String(el.innerText || '').slice(0, maxText);
    }

    // Elements matching `selector` among the scopes and inside them, in page order; the scopes
    // themselves when there is no selector.
    function elementsIn(scopes, selector, first) {
        if (!selector) return scopes.slice(0, 1);
        var found = [];
        for (var s = 0; s < scopes.length && found.length < rules.maxValues; ++s) {
            if (scopes[s].nodeType === 1 && scopes[s].matches(selector)) found.push(scopes[s]);
            if (first && found.length) break;
            var inside = scopes[s].querySelectorAll(selector);
            for (var i = 0; i < inside.length && found.length < rules.maxValues; ++i) found.push(inside[i]);
            if (first && found.length) break;
        }
        return found;
    }

    // The nearest element matching the recipe's `preceding` selector that starts before the element.
    var precedingLists = {};
    function precedingOf(r, el) {
        var list = precedingLists[r];
        if (!list) list = precedingLists[r] = document.querySelectorAll(rules.recipes[r].preceding);
        var low = 0, high = list.length - 1, best = null;
        while (low <= high) {
            var mid = (low + high) >> 1;
            if (list[mid] !== el && (el.compareDocumentPosition(list[mid]) & Node.DOCUMENT_POSITION_PRECEDING)) {
                best = list[mid];
                low = mid + 1;
            } else {
                high = mid - 1;
            }
        }
        return best;
    }

    var pageValues = {};
    function valuesOf(r, members) {
        var recipe = rules.recipes[r];
        if (recipe.from === 'page' && pageValues[r]) return pageValues[r];
        var scopes = members;
        if (recipe.from === 'page') scopes = [document.documentElement];
        else if (recipe.from === 'preceding') {
            var before = precedingOf(r, members[0]);
            scopes = before ? [before] : [];
        }
        var values = [], els = elementsIn(scopes, recipe.sel, false);
        for (var e = 0; e < els.length && values.length < rules.maxValues; ++e) {
            var v = valueOf(els[e], recipe);
            if (v === null || v === '') continue;
            values.push(v);
            if (!recipe.all) break;
        }
        if (recipe.from === 'page') pageValues[r] = values;
        return values;
    }

    var root = document;
    if (rules.list) {
        root = document.querySelector(rules.list);
        if (!root) out.unmatched.push('papers.list');
        else if (rules.listTables >= 0 && root.getElementsByTagName('TABLE').length !== rules.listTables) {
            out.unmatched.push('papers.listTables');
            root = null;
        }
    }
    if (root) {
        var starts = root.querySelectorAll(rules.item);
        for (var i = 0; i < starts.length && out.items.length < rules.maxItems; ++i) {
            if (excluded(starts[i])) continue;
            // A paper over siblings: its start and what follows it up to the next start.
            var members = [starts[i]];
            if (rules.span) {
                for (var sib = starts[i].nextElementSibling; sib && !sib.matches(rules.item) &&
                     members.length < rules.maxSpan; sib = sib.nextElementSibling)
                    if (!excluded(sib)) members.push(sib);
            }
            var item = [];
            for (var r = 0; r < rules.recipes.length; ++r) item.push(valuesOf(r, members));
            out.items.push(item);
        }
        if (!starts.length) out.unmatched.push(rules.span ? 'papers.start' : 'papers.item');
    }
    if (rules.next) {
        var next = document.querySelector(rules.next);
        if (next && next.tagName !== 'A') next = next.closest('a');
        out.next = next ? Array.prototype.indexOf.call(anchors, next) : -1;
        if (!next) out.unmatched.push('nextPage');
    }
    return out;
})
