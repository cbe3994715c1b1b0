#pragma once

#include <QString>

struct DownloadRow;

// The name the row's file takes from all that is known of the paper now: its rule over what the result
// page gave and what its pages declared. A title that is only the file name in the link counts as none,
// so a paper known by its address alone takes the title its page declares. A row without a rule counts
// as named after its title, the name it came with (after its link when namesFromLinks).
QString NameFromWhatIsKnown(const DownloadRow &row, bool namesFromLinks);
