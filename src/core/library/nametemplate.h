#pragma once

#include "core/library/papermetadata.h"

#include <QString>

// File names made from a template such as "{年份}-{作者}-{标题}".
//
// Fields: {标题} (the title), {作者}, {年份}, {来源} (also {期刊}), {英文标题}, {DOI} (its "/" written as
// "_"), {卷} (volume), {期} (issue), or any header text of the result page's
// table ({序号}, {Title}, ...). A field that is unknown or empty counts as missing: the separator text
// between two fields is written only between two fields that are both written, so "{年份}-{作者}-{标题}"
// without authors gives "2019-title" and without a year "authors-title". Text before the first field and
// after the last one is always written. "{{" and "}}" stand for single braces.
// The template filled in. The title loses its line breaks, as a name made from the title alone does;
// in the other values line breaks and control characters become spaces. Nothing is removed for the
// disk yet.
QString FillNameTemplate(const QString &nameTemplate, const PaperMetadata &metadata);

// The file name for a paper: the filled template cleaned by CleanFileName and cut so that name, a
// counter and "." + extension fit in 255 bytes. When the template gives nothing usable, the title
// stands in; the result is empty only when the title cleans down to nothing too.
QString TemplateFileName(const QString &nameTemplate, const PaperMetadata &metadata,
                         const QString &extension);

// What is amiss in a template as typed: a "{" that no "}" closes (the rest is taken as plain text), or a
// field that is none of the built-in ones (it has a value only where the result page's table has a
// column of that header). The first one found, with the field's name.
struct NameTemplateIssue
{
    enum class Kind { None, UnclosedBrace, UnknownField };
    Kind kind = Kind::None;
    QString field;     // UnknownField: the name between the braces; UnclosedBrace: the text after "{"
    qsizetype at = -1; // the position of its "{"
};
NameTemplateIssue CheckNameTemplate(const QString &nameTemplate);
