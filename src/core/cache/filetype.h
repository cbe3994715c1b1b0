#pragma once

#include <QString>

// Type of a file name, a path or an address: the text after the last "." of its last component, cut
// before any of "#", control characters, ":", "*", "<", ">", "|", quotes, "=" and "?"; empty when that
// text is longer than 6 characters or there is no ".". For an address that holds a second "://" (a
// redirect parameter) only the part between the two is looked at.
QString 从文件名和网址提取文件类型(const QString &text);
