#pragma once

#include "ui/cacheviewer.h"
#include "ui/downloadwindow.h"
#include "ui/searchdialogs.h"

#include <utility>

// The tests' doors to the windows: the download window's shell actions and the search window's dialogs.
struct DownloadWindowSeam
{
    static void setShellHooks(fFileDownload &window, ShellHooks hooks)
    {
        window.setShellHooks(std::move(hooks));
    }
};

struct CacheViewerSeam
{
    // nullopt goes back to the real places.
    static void setLocations(std::optional<CacheLocations> locations)
    {
        CacheViewerSeat::setLocations(std::move(locations));
    }
};

struct SearchDialogSeam
{
    // Each returns the function it replaces; an empty function restores the real dialog.
    static searchdialogs::InputBoxFunction setInputBox(searchdialogs::InputBoxFunction function)
    {
        return searchdialogs::Seat::setInputBox(std::move(function));
    }
    static searchdialogs::SaveFileFunction setSaveFileDialog(searchdialogs::SaveFileFunction function)
    {
        return searchdialogs::Seat::setSaveFileDialog(std::move(function));
    }
};
