#pragma once

#include "settings/sharedoptions.h"

#include <QString>
#include <QStringList>
#include <QUrl>

// What a batch run was asked to do on the command line.
struct BatchOptions
{
    enum class Pages { One, All };

    QUrl startPage;
    QString outFolder; // absolute, ends in "/"; empty only with listOnly
    Pages pages = Pages::All;
    int method = 2; // 1 single connection, 2 parallel slots
    int threads = 3;
    int intervalSeconds = 0;
    DuplicatePolicy policy = DuplicatePolicy::Rename;
    bool namesFromLinks = false;
    QString proxyHost; // empty: no proxy
    quint16 proxyPort = 0;
    bool listOnly = false;
};

struct BatchArguments
{
    bool ok = false;
    bool helpAsked = false;
    QString error; // why the arguments were refused
    BatchOptions options;
};

inline constexpr int kMaxIntervalSeconds = 3600;

// Reads the arguments after the program name ("--batch" among them). Nothing on disk is touched.
BatchArguments parseBatchArguments(const QStringList &arguments);

QString batchUsage();
