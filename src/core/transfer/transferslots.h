#pragma once

#include "core/rows/downloadlistmodel.h"
#include "core/rows/rowwriter.h"
#include "core/transfer/downloader.h"

#include <QHash>
#include <QList>
#include <QPointer>
#include <array>

// The transfers under way: the single connection's, the parallel slots', the ones putting their file on
// disk, and how fast each row's bytes come.
class TransferSlots
{
public:
    static constexpr int MaxSlots = 6;
    static constexpr int WatchdogSeconds = 120;

    // A transfer slot: the transfer, the row it serves and when it started.
    struct Slot
    {
        QPointer<Downloader> transfer;
        RowId row = RowId::None;
        qint64 startMs = 0; // monotonic
    };

    explicit TransferSlots(RowWriter rows) : m_rows(rows) {}

    // The single connection has a transfer under way.
    bool transferExecuting() const { return !m_single.transfer.isNull(); }
    // Any transfer still under way (also one putting its file in place).
    bool anyTransferLive() const;
    // Any transfer other than this one (none: any at all) still receiving its answer.
    bool anyReceivingBesides(const Downloader *transfer) const;
    bool slotAlive(int k) const; // k = 1..6
    // Transfer controls on the window: the template plus each live slot.
    int CountTransferSlots() const;
    RowId SlotRow(int k) const;        // the row slot k serves (k = 1..6)
    qint64 SlotStartTime(int k) const; // monotonic ms
    Downloader *slot(int k) const;
    Downloader *singleTransfer() const { return m_single.transfer.data(); }

    Slot &single() { return m_single; }
    Slot &at(int k) { return m_slots[static_cast<size_t>(k)]; }
    const Slot &at(int k) const { return m_slots.at(static_cast<size_t>(k)); }
    // Every transfer of a slot or the single connection (some may be gone).
    QList<QPointer<Downloader>> live() const;

    // The transfer's body is whole and its file goes on disk; its slot serves the next row. False when
    // too many are on their way to the disk already.
    bool commit(Downloader *transfer);
    // The transfer's slot is free again; true when it was the single connection's.
    bool free(Downloader *transfer);
    // Deletes every transfer, which reports to the listeners no more.
    void dropAll(std::initializer_list<QObject *> listeners);
    void forgetEnded() { m_committing.removeAll(nullptr); }
    // The transfers of these rows end with the reason (their files discarded, also one on its way to the
    // disk while its move can be called off).
    void abortRows(const QList<RowId> &ids, const FailureReason &reason);

    // A transfer starts for the row with these bytes kept from an earlier try.
    void startSpeed(RowId id, qint64 kept);
    // Bytes came: the row's speed when it is due again, -1 otherwise.
    qint64 noteBytes(RowId id, qint64 received);
    void endSpeed(RowId id) { m_speed.remove(id); }
    // A transfer whose bytes stopped coming reports nothing: its speed falls with the time it stays quiet.
    void refreshSpeeds();
    // Aborts the slots (up to threadCount) that never got under way within the watchdog's time.
    void watchdog(int threadCount);

private:
    struct Speed
    {
        qint64 atMs = 0;   // start of the measurement
        qint64 bytes = 0;  // bytes the transfer had then
        qint64 latest = 0; // bytes it has now
    };

    RowWriter m_rows;
    Slot m_single;
    std::array<Slot, MaxSlots + 1> m_slots{}; // element 0 is the template and never transfers
    // Transfers whose body is whole and whose file is being put on disk; their slots serve the next rows.
    QList<QPointer<Downloader>> m_committing;
    QHash<RowId, Speed> m_speed;
};
