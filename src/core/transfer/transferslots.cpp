#include "core/transfer/transferslots.h"

#include "core/transfer/schedulertime.h"

#include <QSet>
#include <algorithm>

using schedulertime::monoNow;

int TransferSlots::CountTransferSlots() const
{
    int n = 1; // the template the slots are made from
    for (int k = 1; k <= MaxSlots; ++k)
        n += slotAlive(k) ? 1 : 0;
    return n;
}

bool TransferSlots::anyTransferLive() const
{
    return transferExecuting() || CountTransferSlots() > 1 || !m_committing.isEmpty();
}

bool TransferSlots::anyReceivingBesides(const Downloader *transfer) const
{
    if (m_single.transfer && m_single.transfer != transfer)
        return true;
    for (int k = 1; k <= MaxSlots; ++k) {
        if (slotAlive(k) && m_slots.at(static_cast<size_t>(k)).transfer != transfer)
            return true;
    }
    return false;
}

bool TransferSlots::slotAlive(int k) const
{
    return k >= 1 && k <= MaxSlots && !m_slots.at(static_cast<size_t>(k)).transfer.isNull();
}

Downloader *TransferSlots::slot(int k) const
{
    return slotAlive(k) ? m_slots.at(static_cast<size_t>(k)).transfer.data() : nullptr;
}

QList<QPointer<Downloader>> TransferSlots::live() const
{
    QList<QPointer<Downloader>> live{m_single.transfer};
    for (int k = 1; k <= MaxSlots; ++k)
        live.append(m_slots.at(static_cast<size_t>(k)).transfer);
    return live;
}

bool TransferSlots::commit(Downloader *transfer)
{
    // Files wait for their group's flush here: room for the groups of six busy slots.
    constexpr int MaxCommitting = 256;
    if (m_committing.size() >= MaxCommitting)
        return false;
    // Freed first: freeing a slot also forgets a transfer that was committing.
    free(transfer);
    m_committing.append(transfer);
    return true;
}

bool TransferSlots::free(Downloader *transfer)
{
    if (!transfer)
        return false;
    m_committing.removeAll(transfer);
    if (m_single.transfer == transfer) {
        m_single = Slot{};
        return true;
    }
    for (Slot &slot : m_slots) {
        if (slot.transfer == transfer)
            slot = Slot{};
    }
    return false;
}

void TransferSlots::dropAll(std::initializer_list<QObject *> listeners)
{
    auto drop = [listeners](Slot &slot) {
        if (Downloader *t = slot.transfer.data()) {
            for (QObject *listener : listeners)
                t->disconnect(listener);
            delete t;
        }
        slot = Slot{};
    };
    drop(m_single);
    for (Slot &slot : m_slots)
        drop(slot);
    for (const QPointer<Downloader> &t : std::as_const(m_committing)) {
        if (t) {
            for (QObject *listener : listeners)
                t->disconnect(listener);
            delete t.data();
        }
    }
}

void TransferSlots::startSpeed(RowId id, qint64 kept)
{
    // A resumed transfer counts the kept bytes as received: they are no part of
    // its speed.
    m_speed.insert(id, Speed{monoNow(), kept, kept});
}

qint64 TransferSlots::noteBytes(RowId id, qint64 received)
{
    Speed &speed = m_speed[id];
    const qint64 at = monoNow();
    speed.latest = received;
    qint64 rate = -1;
    if (at - speed.atMs >= 500) {
        rate = (received - speed.bytes) * 1000 / (at - speed.atMs);
        speed = Speed{at, received, received};
    }
    return rate;
}

void TransferSlots::refreshSpeeds()
{
    const qint64 at = monoNow();
    for (auto it = m_speed.begin(); it != m_speed.end(); ++it) {
        Speed &speed = it.value();
        if (at - speed.atMs < 1000)
            continue;
        const qint64 rate = std::max<qint64>(0, (speed.latest - speed.bytes) * 1000 / (at - speed.atMs));
        speed = Speed{at, speed.latest, speed.latest};
        m_rows.update(it.key(), [rate](DownloadRow &r) {
            if (r.state == RowState::Downloading)
                r.speed = rate;
        });
    }
}

void TransferSlots::watchdog(int threadCount)
{
    const qint64 nowMs = monoNow();
    for (int k = 1; k <= threadCount && k <= MaxSlots; ++k) {
        Slot &slot = m_slots[static_cast<size_t>(k)];
        if (!slot.transfer || nowMs - slot.startMs < WatchdogSeconds * 1000LL)
            continue;
        // A slot that has body bytes is watched by its own stall limit; this
        // catches the ones that never got under way.
        if (slot.transfer->hasProgressWithTotal() || slot.transfer->hasBodyBytes() ||
            slot.transfer->isCommitting())
            continue;
        const DownloadRow *row = m_rows.list().find(slot.row);
        if (row && (row->size >= 0 || row->sizeNote != SizeNote::None))
            continue;
        slot.transfer->abort(
            FailureReason::of(FailureReason::Kind::Timeout, 0,
                              QStringLiteral("no progress in %1 seconds").arg(WatchdogSeconds)));
    }
}

void TransferSlots::abortRows(const QList<RowId> &ids, const FailureReason &reason)
{
    const QSet<RowId> gone(ids.cbegin(), ids.cend());
    QList<QPointer<Downloader>> stopping;
    if (gone.contains(m_single.row))
        stopping.append(m_single.transfer);
    for (int k = 0; k <= MaxSlots; ++k) {
        const Slot &slot = at(k);
        if (slot.transfer && gone.contains(slot.row))
            stopping.append(slot.transfer);
    }
    // Files on their way to the disk are called off while they can be.
    for (const QPointer<Downloader> &transfer : std::as_const(m_committing)) {
        if (transfer && gone.contains(transfer->id()))
            stopping.append(transfer);
    }
    for (const QPointer<Downloader> &transfer : std::as_const(stopping)) {
        if (transfer)
            transfer->abort(reason);
    }
}

RowId TransferSlots::SlotRow(int k) const
{
    return (k >= 1 && k <= MaxSlots) ? at(k).row : RowId::None;
}

qint64 TransferSlots::SlotStartTime(int k) const
{
    return (k >= 1 && k <= MaxSlots) ? at(k).startMs : 0;
}
