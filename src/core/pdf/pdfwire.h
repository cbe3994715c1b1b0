#pragma once

#include "core/pdf/pdfstructure.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

// What goes between the program and its checking process over their socket (one datagram each way per
// file): the program sends a request number with the file's descriptor attached; the checker answers
// "number state damage unchecked pages detail".
namespace pdfwire {

constexpr int SocketFd = 3;        // the checker's end of the socket, as it is started
constexpr size_t MaxAnswer = 4096; // an answer's largest size, detail cut to fit
constexpr size_t MaxDetail = MaxAnswer / 2;

inline std::string encode(uint64_t request, const PdfInspection &inspection)
{
    std::string detail = inspection.detail.substr(0, MaxDetail);
    for (char &c : detail) {
        if (static_cast<unsigned char>(c) < 0x20)
            c = ' ';
    }
    char head[96];
    std::snprintf(head, sizeof head, "%llu %d %d %d %d ", static_cast<unsigned long long>(request),
                  int(inspection.state), int(inspection.damage), int(inspection.unchecked), inspection.pages);
    return head + detail;
}

// False for an answer that is not one.
inline bool decode(const char *data, size_t length, uint64_t *request, PdfInspection *inspection)
{
    const std::string text(data, length);
    unsigned long long number = 0;
    int state = 0, damage = 0, unchecked = 0, pages = 0, used = 0;
    if (std::sscanf(text.c_str(), "%llu %d %d %d %d %n", &number, &state, &damage, &unchecked, &pages,
                    &used) < 5)
        return false;
    if (state < 0 || state > int(pdfverdict::State::NotChecked) || damage < 0 ||
        damage > int(pdfverdict::Damage::BadPageTree) || unchecked < 0 ||
        unchecked > int(pdfverdict::Unchecked::Unreadable))
        return false;
    *request = number;
    inspection->state = pdfverdict::State(state);
    inspection->damage = pdfverdict::Damage(damage);
    inspection->unchecked = pdfverdict::Unchecked(unchecked);
    inspection->pages = pages;
    inspection->detail = text.substr(size_t(used));
    return true;
}

} // namespace pdfwire
