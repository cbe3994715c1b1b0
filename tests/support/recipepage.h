#pragma once

// A small result page in the shapes real listings take, and rules of format 2 written for it, read in
// the window's reader and by the batch mode's check alike.
//
// Two groups under a year heading each. A paper is a <dt> and the <dd>s after it: the title link with a
// badge beside it and spaces inside, a label before the authors who stand one element each, "Submitted
// 25 September, 2023", a PDF link of its own that carries a token, a DOI in an attribute. Between the
// papers stands an advertisement that looks like one; one item has no link; one paper has no PDF link
// (its file address comes from its link), and one has neither that nor a link the replacement fits.
namespace recipepage {

inline const char *const kHtml = R"html(<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Listing</title><link rel="stylesheet" href="/style.css"></head>
<body>
<header><span id="journal">Journal: Journal of Tests</span><img src="/logo.png" alt=""></header>
<h2 class="year">2023</h2>
<dl class="results">
  <dt><a href="/abs/1">  First   paper
      title </a> <span class="badge">[PDF]</span></dt>
  <dd class="authors"><b>Authors:</b> <span class="au">Ann Smith</span>, <span class="au">Bo Li</span>,
      <span class="au">Chen, Wei</span></dd>
  <dd class="dateline">Submitted 25 September, 2023</dd>
  <dd><a class="pdf" href="/files/1.pdf?token=a1b2">PDF</a></dd>
  <dt class="ad"><a href="/sponsor">Sponsored: a course</a></dt>
  <dd class="authors"><span class="au">Nobody</span></dd>
  <dt data-doi="10.1000/2"><a href="/abs/2">Second paper</a></dt>
  <dd class="authors"><span class="au">Dan Brown</span></dd>
  <dd class="dateline">Submitted 1 March, 2022; originally announced March 2022.</dd>
  <dt><span>Third, without a link</span></dt>
  <dd class="authors"><span class="au">Eve Adams</span></dd>
</dl>
<h2 class="year">2021</h2>
<dl class="results">
  <dt><a href="https://elsewhere.example/record/4">Fourth paper</a></dt>
  <dd class="authors"><span class="au">Fay Wu</span></dd>
</dl>
</body></html>
)html";

inline const char *const kRules = R"json({
  "format": 2,
  "name": "Listing",
  "hosts": ["127.0.0.1"],
  "papers": {
    "start": "dl.results > dt",
    "exclude": "dt.ad",
    "link": "dt a",
    "title": {"selector": "dt", "exclude": ".badge"}
  },
  "fileAddress": [
    {"selector": "a.pdf"},
    {"pattern": "/abs/(\\d+)$", "replacement": "/pdf/\\1"}
  ],
  "metadata": {"fields": [
    {"name": "作者", "selector": ".au", "all": true, "join": " / "},
    {"name": "年份", "selector": ".dateline", "match": "(\\d{4})"},
    {"name": "DOI", "attribute": "data-doi"},
    {"name": "分组", "preceding": "h2.year"},
    {"name": "来源", "selector": "#journal", "from": "page", "match": "Journal:\\s*(.+)"}
  ]}
})json";

} // namespace recipepage
