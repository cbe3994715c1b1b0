#pragma once

#include <QString>
#include <functional>

class QWidget;

// Choosing a file to read or to write, through one place so tests can answer.
namespace filedialogs {

struct Request
{
    enum class Kind { Open, Save };
    Kind kind = Kind::Open;
    QString caption;
    QString startPath;     // folder, or folder and proposed name
    QString filter;        // e.g. "RIS (*.ris)"
    QString defaultSuffix; // added to a saved name without one
};

// The chosen path, or empty text when cancelled.
using Function = std::function<QString(QWidget *parent, const Request &request)>;

// Returns the function it replaces; an empty function restores the real dialog.
Function setFunction(Function function);

QString choose(QWidget *parent, const Request &request);

} // namespace filedialogs
